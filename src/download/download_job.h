#pragma once

#include "common/sha256.h"
#include "download/partial_file.h"
#include "download/progress.h"
#include "net/network_route.h"

#include <optional>
#include <string>

// One package download, which the plain download and the rebuild from the
// previous package both work on: what is asked for, where it goes, what
// vouches for it and who hears of the progress.
struct DownloadJob {
    std::wstring url;
    // The url's path, asked of the pinned server whatever host the url names.
    std::wstring requestPath;
    std::wstring packagePath;
    std::optional<Sha256Digest> digest;
    // The run's way to the server, for every request of the job.
    NetworkRoute route;
    const ProgressSink& reportProgress;
    PartialFile partial;
};
