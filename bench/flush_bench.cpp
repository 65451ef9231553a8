// Times one installation's unpacking: the package unpacked with the
// updater's own code into a fresh folder, every file flushed as the
// installation does it, or, with "noflush", not flushed, to tell what the
// flush costs. bench/benchmark_install.py runs it in turns with the same
// work done natively.
//
// Usage: flush_bench.exe PACKAGE FOLDER [noflush]
// Prints "unpack_s=<seconds>" and exits 0, or exits 1 when unpacking failed.

#include "common/file_system.h"
#include "install/extraction.h"

#include <chrono>
#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 && !(argc == 4 && std::wcscmp(argv[3], L"noflush") == 0)) {
        return 2;
    }
    const FileFlush flush = argc == 4 ? FileFlush::NotFlushed : FileFlush::Flushed;
    if (!removeTree(argv[2])) {
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const Failure failure = unpackPackage(argv[1], argv[2], flush, [](int) {});
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    if (failure) {
        std::printf("failed: %s %s %lu\n", failureStepName(failure.step), failureKindName(failure.kind),
                    static_cast<unsigned long>(failure.systemError));
        return 1;
    }
    std::printf("unpack_s=%.3f\n", seconds.count());
    return 0;
}
