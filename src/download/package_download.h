#pragma once

#include "common/failure.h"
#include "common/sha256.h"
#include "common/support_log.h"
#include "download/progress.h"
#include "net/network_route.h"

#include <cstdint>
#include <optional>
#include <string>

// Puts the package at the target path, fetched along the run's route: rebuilt from the previous package
// there when that can be proven, else downloaded, resuming what an earlier
// attempt or run received. The target is replaced only by a complete file
// that matched the expected digest; what a failed download received waits
// beside it for the next attempt or start. The file never grows past the
// manifest's size, when it gives one, or else past the fixed ceiling, nor into
// the disk's floor of free space: a download that would is dropped at once
// (TooLarge, or Disk with ERROR_DISK_FULL). On failure, says why the last
// attempt failed, or that attempts still brought bytes when they ran out.
// Each request, and where the package's bytes came from, go to the log.
Failure downloadPackage(const std::wstring& url, const std::wstring& targetPath,
                        const std::optional<Sha256Digest>& expectedDigest, const std::optional<std::uint64_t>& size,
                        const NetworkRoute& route, const ProgressSink& reportProgress, SupportLog& log);
