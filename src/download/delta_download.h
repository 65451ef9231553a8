#pragma once

#include "common/sha256.h"
#include "download/package_download.h"
#include "download/partial_file.h"

#include <string>

enum class RebuildOutcome {
    Rebuilt,      // the package is in place, its digest matched
    Interrupted,  // the link dropped; another attempt goes on from the kept bytes
    NotPossible,  // no rebuild: the ordinary download takes over
};

// Rebuilds the offered package from the previous one, which stays in the
// office folder after every update, fetching with range requests only the
// entries that changed, into the partial file in order from its first byte.
// Bytes the partial file keeps of this very file (an attempt or run cut
// short) are gone on from. The result must be byte for byte the published
// package: it takes the package's place only when its digest matches. After
// any other outcome the partial file holds nothing, or the package's start
// as far as it got with the record of the offered file, which a later
// rebuild or the ordinary download continues. Nothing is attempted on a
// server that sends no ranges, a previous package that is missing or not a
// zip of the release tool's kind, or any other doubt.
RebuildOutcome rebuildFromPreviousPackage(const std::wstring& url, const std::wstring& packagePath,
                                          PartialFile& partial, const Sha256Digest& digest,
                                          const NetworkRoute& route, const ProgressSink& reportProgress);
