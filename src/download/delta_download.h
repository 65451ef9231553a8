#pragma once

#include "common/sha256.h"
#include "download/package_download.h"
#include "download/partial_file.h"

#include <string>

// Rebuilds the offered package from the previous one, which stays in the
// office folder after every update, fetching with range requests only the
// entries that changed, into the partial file (which must hold nothing yet),
// in order from the first byte. The result must be byte for byte the
// published package: it takes the package's place only when its digest
// matches. True when it did. On false the partial file holds nothing, or the
// package's start as far as the rebuild got, with the record of the offered
// file: the ordinary download asks for the rest with a range, and the digest
// judges the whole. Nothing is attempted on a server that sends no ranges, a
// previous package that is missing or not a zip of the release tool's kind,
// or any other doubt.
bool rebuildFromPreviousPackage(const std::wstring& url, const std::wstring& packagePath, PartialFile& partial,
                                const Sha256Digest& digest, const ProgressSink& reportProgress);
