#pragma once

#include "common/failure.h"
#include "common/sha256.h"
#include "common/support_log.h"
#include "download/progress.h"
#include "net/network_route.h"

#include <optional>
#include <string>

// Puts the package at the target path, fetched along the run's route: rebuilt from the previous package
// there when that can be proven, else downloaded, resuming what an earlier
// attempt or run received. The target is replaced only by a complete file
// that matched the expected digest; what a failed download received waits
// beside it for the next attempt or start. On failure, says why the last
// attempt failed, or that attempts still brought bytes when they ran out.
// Each request, and where the package's bytes came from, go to the log.
Failure downloadPackage(const std::wstring& url, const std::wstring& targetPath,
                        const std::optional<Sha256Digest>& expectedDigest, const NetworkRoute& route,
                        const ProgressSink& reportProgress, SupportLog& log);
