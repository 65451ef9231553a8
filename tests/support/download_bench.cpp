// Measures the updater's package download against a plain WinHTTP read loop
// over the same server: throughput, progress messages posted, and the peak
// working set, which must not grow with the package.
//
// Usage: download_bench.exe URL TARGET_FILE [SHA256]

#include "common/owned_handles.h"
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
    std::wstring url;
    std::wstring target;
    std::optional<Sha256Digest> digest;
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
    run->succeeded = downloadPackage(run->url, run->target, run->digest,
                                     [run](const DownloadProgress& progress) { postProgress(run->window, progress); });
    PostMessageW(run->window, WM_BENCH_FINISHED, 0, 0);
    return 0;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The same request without progress, hashing or retries: the floor the
// updater's download is measured against.
long long plainReadLoop(const std::wstring& path, const std::wstring& target) {
    PinnedExchange exchange;
    if (!sendPinnedRequest(path, Timeouts::Download, exchange)) {
        return -1;
    }
    const OwnedFileHandle file(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return -1;
    }
    std::vector<char> buffer(64 * 1024);
    long long total = 0;
    DWORD bytesRead = 0;
    while (WinHttpReadData(exchange.request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &bytesRead) &&
           bytesRead > 0) {
        DWORD written = 0;
        WriteFile(file.get(), buffer.data(), bytesRead, &written, nullptr);
        total += bytesRead;
    }
    return total;
}

SIZE_T peakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PeakWorkingSetSize;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: download_bench URL TARGET_FILE [SHA256]\n");
        return 2;
    }
    BenchRun run;
    run.url = argv[1];
    run.target = argv[2];
    run.digest = argc > 3 ? parseSha256(argv[3]) : std::nullopt;

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = countingWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"NirvaDownloadBench";
    RegisterClassW(&windowClass);
    run.window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 windowClass.hInstance, nullptr);

    const SIZE_T peakBefore = peakWorkingSet();
    const auto downloadStart = std::chrono::steady_clock::now();
    const OwnedKernelHandle thread(CreateThread(nullptr, 0, downloadThread, &run, 0, nullptr));
    MSG message;
    while (thread && GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    WaitForSingleObject(thread.get(), INFINITE);
    const double downloadSeconds = secondsSince(downloadStart);
    const SIZE_T peakAfterDownload = peakWorkingSet();

    const auto plainStart = std::chrono::steady_clock::now();
    const long long plainBytes = plainReadLoop(packageRequestPath(run.url), run.target + L".plain");
    const double plainSeconds = secondsSince(plainStart);

    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    GetFileAttributesExW(run.target.c_str(), GetFileExInfoStandard, &attributes);
    const double megabytes =
        ((static_cast<unsigned long long>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow) / 1048576.0;

    std::printf("download_succeeded=%d\n", run.succeeded ? 1 : 0);
    std::printf("package_mb=%.1f\n", megabytes);
    std::printf("progress_messages=%lld\n", progressMessages);
    std::printf("last_percentage=%d\n", lastPercentage);
    std::printf("download_seconds=%.2f\n", downloadSeconds);
    std::printf("download_mb_per_s=%.1f\n", megabytes / downloadSeconds);
    std::printf("plain_loop_mb=%.1f\n", plainBytes / 1048576.0);
    std::printf("plain_loop_seconds=%.2f\n", plainSeconds);
    std::printf("plain_loop_mb_per_s=%.1f\n", plainBytes / 1048576.0 / plainSeconds);
    std::printf("peak_working_set_before_mb=%.1f\n", peakBefore / 1048576.0);
    std::printf("peak_working_set_after_download_mb=%.1f\n", peakAfterDownload / 1048576.0);
    return run.succeeded ? 0 : 1;
}
