// Measures what flushing every extracted file costs the installation: the
// package is extracted by the system PowerShell into a fresh folder, in
// alternating runs without (A) and with (B) the flush, and the medians are
// compared.
//
// Usage: flush_bench.exe PACKAGE FOLDER RUNS

#include "common/file_system.h"
#include "install/extraction.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 2;
    std::vector<double> milliseconds[2];
    for (int run = 0, runs = std::wcstol(argv[3], nullptr, 10); run < runs; ++run) {
        for (const bool flush : {false, true}) {
            if (!removeTree(argv[2])) return 1;
            const auto start = std::chrono::steady_clock::now();
            if (!extractArchive(argv[1], argv[2]) || (flush && !flushTree(argv[2]))) return 1;
            milliseconds[flush].push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            std::printf("run %d %s: %.0f ms\n", run + 1, flush ? "B (flushed)" : "A (not flushed)",
                        milliseconds[flush].back());
        }
    }
    const double a = median(milliseconds[0]), b = median(milliseconds[1]);
    std::printf("median A %.0f ms, median B %.0f ms, B/A %.2f, flush %.0f ms\n", a, b, b / a, b - a);
    return removeTree(argv[2]) ? 0 : 1;
}
