#pragma once

#include "common/failure.h"
#include "download/download_job.h"

#include <cstdint>

enum class RebuildOutcome {
    Rebuilt,      // the package is in place, its digest matched
    Interrupted,  // the link dropped; another attempt goes on from the kept bytes
    NotPossible,  // no rebuild: the ordinary download takes over
    Refused,      // the rebuilt file failed its digest: the previous package is
                  // removed, and the ordinary download takes over
};

struct RebuildResult {
    RebuildOutcome outcome = RebuildOutcome::NotPossible;
    // Why it was interrupted, for when no later attempt gets further.
    Failure failure;
};

// Rebuilds the offered package from the previous one, which stays in the
// office folder after every update, fetching with range requests only the
// entries that changed (or, where the server has one, a patch from the old
// entry's content to the new one's), into the job's partial file in order
// from its first byte. The job must expect a digest. Bytes the partial file keeps of this
// very file (an attempt or run cut short) are gone on from. The result must
// be byte for byte the published package: it takes the package's place only
// when its digest matches; when it does not, the previous package's entries
// lied about their bytes (a damaged disk, another packer's local headers),
// and it is removed so that no later attempt or start rebuilds from it
// again. After any other outcome the partial file holds
// nothing, or the package's start as far as it got with the record of the
// offered file, which a later rebuild or the ordinary download continues.
// Nothing is attempted on a server that sends no ranges, a previous package
// that is missing or not a zip of the release tool's kind, or any other doubt.
RebuildResult rebuildFromPreviousPackage(DownloadJob& job);
