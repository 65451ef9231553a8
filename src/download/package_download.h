#pragma once

#include "download/progress.h"
#include "net/manifest.h"

#include <functional>
#include <optional>
#include <string>

// Told the progress after every chunk that reached the file; it decides who
// hears of it.
using ProgressSink = std::function<void(const DownloadProgress&)>;

// Streams the package to the target file in up to three attempts. An attempt
// fails unless the whole announced body reached the disk and matched the
// expected digest; a failed attempt leaves no file behind.
bool downloadPackage(const std::wstring& url, const std::wstring& targetPath,
                     const std::optional<Sha256Digest>& expectedDigest, const ProgressSink& reportProgress);
