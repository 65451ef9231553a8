#include "download/delta_plan.h"

#include <map>
#include <string_view>

namespace {

bool sameContent(const ZipEntry& a, const ZipEntry& b) {
    return a.crc32 == b.crc32 && a.compressedSize == b.compressedSize && a.uncompressedSize == b.uncompressedSize &&
           a.method == b.method && a.end - a.start == b.end - b.start;
}

// Appends a run, joining it to the last one when both come from the same
// place one after the other.
void append(std::vector<RebuildStep>& steps, bool fromOldPackage, std::uint64_t sourceOffset,
            std::uint64_t length) {
    if (!steps.empty() && steps.back().fromOldPackage == fromOldPackage &&
        steps.back().sourceOffset + steps.back().length == sourceOffset) {
        steps.back().length += length;
    } else {
        steps.push_back({fromOldPackage, sourceOffset, length});
    }
}

}  // namespace

std::vector<RebuildStep> planRebuild(const ZipDirectory& oldPackage, const ZipDirectory& newPackage,
                                     std::uint64_t mergeGap) {
    std::map<std::string_view, const ZipEntry*> oldEntries;
    for (const ZipEntry& entry : oldPackage.entries) {
        oldEntries.emplace(entry.name, &entry);
    }
    std::vector<RebuildStep> runs;
    for (const ZipEntry& entry : newPackage.entries) {
        const auto old = oldEntries.find(entry.name);
        const bool copied = old != oldEntries.end() && sameContent(*old->second, entry);
        append(runs, copied, copied ? old->second->start : entry.start, entry.end - entry.start);
    }
    // A short copied run between two fetched ones is fetched with them.
    std::vector<RebuildStep> steps;
    std::uint64_t target = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
        const RebuildStep& run = runs[i];
        const bool between = i > 0 && i + 1 < runs.size() && !runs[i - 1].fromOldPackage && !runs[i + 1].fromOldPackage;
        if (run.fromOldPackage && !(between && run.length < mergeGap)) {
            append(steps, true, run.sourceOffset, run.length);
        } else {
            append(steps, false, target, run.length);
        }
        target += run.length;
    }
    return steps;
}

std::vector<RebuildStep> stepsAfter(const std::vector<RebuildStep>& steps, std::uint64_t done) {
    std::vector<RebuildStep> remaining;
    std::uint64_t position = 0;
    for (RebuildStep step : steps) {
        const std::uint64_t end = position + step.length;
        if (end > done) {
            const std::uint64_t skipped = done > position ? done - position : 0;
            step.sourceOffset += skipped;
            step.length -= skipped;
            remaining.push_back(step);
        }
        position = end;
    }
    return remaining;
}

std::uint64_t fetchedBytes(const std::vector<RebuildStep>& steps) {
    std::uint64_t total = 0;
    for (const RebuildStep& step : steps) {
        total += step.fromOldPackage ? 0 : step.length;
    }
    return total;
}

std::uint64_t copiedBytes(const std::vector<RebuildStep>& steps) {
    std::uint64_t total = 0;
    for (const RebuildStep& step : steps) {
        total += step.fromOldPackage ? step.length : 0;
    }
    return total;
}
