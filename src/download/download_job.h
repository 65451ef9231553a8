#pragma once

#include "common/sha256.h"
#include "common/support_log.h"
#include "download/partial_file.h"
#include "download/progress.h"
#include "net/network_route.h"

#include <cstdint>
#include <optional>
#include <string>

// Where the package's bytes came from, for the support log.
struct DownloadStats {
    // Received from the server, over every attempt and range.
    std::uint64_t network = 0;
    // Copied from the previous package by a rebuild.
    std::uint64_t copied = 0;
    // Of `network`, received as patches by a rebuild.
    std::uint64_t patches = 0;
    // Kept from an earlier run and gone on from.
    std::uint64_t resumed = 0;
};

// One package download, which the plain download and the rebuild from the
// previous package both work on: what is asked for, where it goes, what
// vouches for it, who hears of the progress and where its requests are
// logged.
struct DownloadJob {
    std::wstring url;
    // The url's path, asked of the pinned server whatever host the url names.
    std::wstring requestPath;
    std::wstring packagePath;
    std::optional<Sha256Digest> digest;
    // The run's way to the server, for every request of the job.
    NetworkRoute route;
    const ProgressSink& reportProgress;
    SupportLog& log;
    PartialFile partial;
    DownloadStats stats;
};
