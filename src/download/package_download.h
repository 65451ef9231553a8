#pragma once

#include "download/progress.h"
#include "net/manifest.h"
#include "net/network_route.h"

#include <functional>
#include <optional>
#include <string>

// Told the progress after every chunk that reached the file; it decides who
// hears of it.
using ProgressSink = std::function<void(const DownloadProgress&)>;

// Puts the package at the target path, fetched along the run's route: rebuilt from the previous package
// there when that can be proven, else downloaded, resuming what an earlier
// attempt or run received. The target is replaced only by a complete file
// that matched the expected digest; what a failed download received waits
// beside it for the next attempt or start.
bool downloadPackage(const std::wstring& url, const std::wstring& targetPath,
                     const std::optional<Sha256Digest>& expectedDigest, const NetworkRoute& route,
                     const ProgressSink& reportProgress);
