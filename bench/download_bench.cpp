// Measures the updater's package download (digest check on) against a plain
// 64 KiB WinHTTP read loop from the same server, in turns A B A B ..., with
// the download without a digest between them to show what the check costs,
// prints each run's seconds and processor seconds, the progress messages of
// the last download and the peak working set, which must not grow with the
// package.
//
// Usage: download_bench.exe URL TARGET_FILE SHA256 ROUNDS
//
// With a fifth argument, only the updater's download runs, each time with
// that file in place as the previous package to rebuild from ("none": none);
// a sixth names a proxy (host:port) that every request goes through.

#include "common/encoding.h"
#include "common/owned_handles.h"
#include "common/support_log.h"
#include "download/package_download.h"
#include "net/connection.h"
#include "net/request_path.h"
#include "update/messages.h"

#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr UINT WM_BENCH_FINISHED = WM_APP + 100;

struct BenchRun {
    // The updater's own support log, in the benchmark's folder, as in a run.
    SupportLog& log;
    std::wstring url;
    std::wstring target;
    std::optional<Sha256Digest> digest;
    std::wstring previous;
    NetworkRoute route;
    HWND window = nullptr;
    bool succeeded = false;
};

long long progressMessages = 0;
int lastPercentage = -1;

LRESULT CALLBACK countingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_UPDATE_PROGRESS) {
        const std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lParam));
        ++progressMessages;
        lastPercentage = static_cast<int>(wParam);
        return 0;
    }
    if (message == WM_BENCH_FINISHED) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI downloadThread(LPVOID parameter) {
    auto* run = static_cast<BenchRun*>(parameter);
    run->succeeded = !downloadPackage(
        run->url, run->target, run->digest, std::nullopt, run->route,
        [run](const DownloadProgress& progress) { postProgress(run->window, progress); }, run->log);
    PostMessageW(run->window, WM_BENCH_FINISHED, 0, 0);
    return 0;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The updater's download on its worker thread, its progress handled by a
// window on this one, as in the updater.
double updaterDownload(BenchRun& run) {
    if (run.previous.empty()) {
        DeleteFileW(run.target.c_str());
    } else {
        // On the disk before the time starts, as an old package would be: a
        // flush in the download must not be charged for writing this copy.
        const bool copied = CopyFileW(run.previous.c_str(), run.target.c_str(), FALSE);
        const OwnedFileHandle copy(CreateFileW(run.target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!copied || !copy || !FlushFileBuffers(copy.get())) {
            return -1;
        }
    }
    progressMessages = 0;
    const auto start = std::chrono::steady_clock::now();
    const OwnedKernelHandle thread(CreateThread(nullptr, 0, downloadThread, &run, 0, nullptr));
    MSG message;
    while (thread && GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    WaitForSingleObject(thread.get(), INFINITE);
    return run.succeeded ? secondsSince(start) : -1;
}

// The same request without progress, hashing or retries: the floor the
// updater's download is measured against.
double plainReadLoop(const std::wstring& path, const std::wstring& target) {
    const auto start = std::chrono::steady_clock::now();
    PinnedExchange exchange;
    if (sendPinnedRequest(path, NetworkRoute{}, FailureStep::Download, exchange)) {
        return -1;
    }
    const OwnedFileHandle file(
        CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return -1;
    }
    std::vector<char> buffer(64 * 1024);
    DWORD bytesRead = 0;
    while (WinHttpReadData(exchange.request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &bytesRead) &&
           bytesRead > 0) {
        DWORD written = 0;
        WriteFile(file.get(), buffer.data(), bytesRead, &written, nullptr);
    }
    const double seconds = secondsSince(start);
    // Outside the time taken: the download flushes its file, and must not
    // be charged for writing this one's pages as well.
    FlushFileBuffers(file.get());
    return seconds;
}

// User and kernel time of every thread of this process: the hash shows here.
double processorSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](FILETIME time) {
        return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 1e7;
}

SIZE_T peakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PeakWorkingSetSize;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: download_bench URL TARGET_FILE SHA256 ROUNDS\n");
        return 2;
    }
    SupportLog log;
    BenchRun run{log};
    run.url = argv[1];
    run.target = argv[2];
    run.digest = parseSha256(argv[3]);
    const int rounds = _wtoi(argv[4]);

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = countingWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"NirvaDownloadBench";
    RegisterClassW(&windowClass);
    run.window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 windowClass.hInstance, nullptr);

    if (argc > 5) {
        run.previous = std::wstring(argv[5]) == L"none" ? L"" : argv[5];
        if (argc > 6) {
            run.route = NetworkRoute{RouteKind::Proxy, argv[6], RouteSource::Manual, false, false};
        }
        bool allSucceeded = true;
        for (int round = 1; round <= rounds; ++round) {
            const double seconds = updaterDownload(run);
            std::printf("round=%d updater_s=%.3f\n", round, seconds);
            allSucceeded = allSucceeded && seconds > 0;
        }
        std::printf("peak_working_set_mb=%.1f\n", peakWorkingSet() / 1048576.0);
        return allSucceeded ? 0 : 1;
    }

    const std::optional<Sha256Digest> digest = run.digest;
    bool allSucceeded = true;
    for (int round = 1; round <= rounds; ++round) {
        double cpu = processorSeconds();
        const auto processorSecondsSince = [&cpu] {
            const double before = cpu;
            cpu = processorSeconds();
            return cpu - before;
        };
        run.digest = std::nullopt;
        const double undigested = updaterDownload(run);
        processorSecondsSince();
        run.digest = digest;
        const double updater = updaterDownload(run);
        const double updaterCpu = processorSecondsSince();
        const double plain = plainReadLoop(packageRequestPath(run.url), run.target + L".plain");
        std::printf("round=%d updater_s=%.3f plain_s=%.3f updater_cpu_s=%.3f plain_cpu_s=%.3f undigested_s=%.3f\n",
                    round, updater, plain, updaterCpu, processorSecondsSince(), undigested);
        std::fflush(stdout);
        allSucceeded = allSucceeded && updater > 0 && plain > 0 && undigested > 0;
    }
    std::printf("progress_messages=%lld\n", progressMessages);
    std::printf("last_percentage=%d\n", lastPercentage);
    std::printf("peak_working_set_mb=%.1f\n", peakWorkingSet() / 1048576.0);
    return allSucceeded ? 0 : 1;
}
