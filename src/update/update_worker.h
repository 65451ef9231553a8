#pragma once

#include "common/failure.h"
#include "common/sha256.h"
#include "common/support_log.h"
#include "net/network_route.h"
#include "update/installation_gate.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// What the worker needs of the offer, and the window it reports to.
struct UpdateJob {
    HWND window = nullptr;
    std::wstring url;
    // The release the package must hold.
    std::wstring version;
    std::optional<Sha256Digest> digest;
    // The package's length, when the manifest gives it.
    std::optional<std::uint64_t> size;
    // Set when the trust rules refused the download.
    Failure refusal;
    // Where the download, the installation's steps and the self-update are
    // logged; the run's, which outlives the worker.
    SupportLog& log;
    // The way the check reached the server: the package goes the same way.
    NetworkRoute route;
    // Shared with the window: the installation begins only if the run has
    // not ended meanwhile.
    std::shared_ptr<InstallationGate> gate;
};

// Starts the worker on a thread of its own with a copy of the job, which the
// thread owns: it downloads and installs the release, reports to the window
// only by posted messages and ends with WM_UPDATE_DONE, unless the run ended
// before the installation began. False when no thread could be started.
bool startUpdateWorker(const UpdateJob& job);

// Starts a thread that stops the running application and then posts
// WM_APPLICATION_STOPPED to the window. False when it could not be started.
bool startLaterRoutine(HWND window);
