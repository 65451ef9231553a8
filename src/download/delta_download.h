#pragma once

#include "common/sha256.h"
#include "download/package_download.h"

#include <string>

// Rebuilds the offered package from the previous one, which stays in the
// office folder after every update, fetching with range requests only the
// entries that changed. The result must be byte for byte the published
// package: it takes the package's place only when its digest matches. True
// when it did; on false nothing of the attempt is left, and the caller
// downloads the whole package: a server that sends no ranges, a previous
// package that is missing or not a zip of the release tool's kind, or any
// other doubt.
bool rebuildFromPreviousPackage(const std::wstring& url, const std::wstring& packagePath, const Sha256Digest& digest,
                                const ProgressSink& reportProgress);
