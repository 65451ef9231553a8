#include "download/delta_plan.h"

#include "archive/binary_patch.h"
#include "archive/entry_decoder.h"

#include <map>
#include <string_view>

namespace {

constexpr std::uint16_t kDeflated = 8;
constexpr std::uint16_t kDataDescriptorFlag = 0x0008;

bool sameContent(const ZipEntry& a, const ZipEntry& b) {
    return a.crc32 == b.crc32 && a.compressedSize == b.compressedSize && a.uncompressedSize == b.uncompressedSize &&
           a.method == b.method && a.end - a.start == b.end - b.start;
}

bool fetchedRun(const RebuildStep& step) {
    return !step.fromOldPackage && !step.patched;
}

// Appends a run, joining it to the last one when both come from the same
// place one after the other. A patched run is one entry's and joins none.
void append(std::vector<RebuildStep>& steps, bool fromOldPackage, std::uint64_t sourceOffset,
            std::uint64_t length) {
    if (!steps.empty() && !steps.back().patched && steps.back().fromOldPackage == fromOldPackage &&
        steps.back().sourceOffset + steps.back().length == sourceOffset) {
        steps.back().length += length;
    } else {
        steps.push_back({fromOldPackage, sourceOffset, length});
    }
}

template <typename Counted>
std::uint64_t bytesOf(const std::vector<RebuildStep>& steps, Counted counted) {
    std::uint64_t total = 0;
    for (const RebuildStep& step : steps) {
        total += counted(step) ? step.length : 0;
    }
    return total;
}

// Whether a patch may rebuild the new entry from the old one (planRebuild says when).
bool mayPatch(const ZipEntry& oldEntry, const ZipEntry& newEntry) {
    const auto patchable = [](const ZipEntry& entry) {
        return entry.uncompressedSize > 0 && entry.uncompressedSize <= kMaxPatchedEntry;
    };
    return oldEntry.crc32 != newEntry.crc32 && newEntry.method == kDeflated &&
           (newEntry.flags & kDataDescriptorFlag) == 0 && canDecode(oldEntry) && patchable(oldEntry) &&
           patchable(newEntry);
}

// A new entry's runs: copied whole, fetched whole, or its local header
// fetched and its data patched.
void appendEntry(std::vector<RebuildStep>& runs, const ZipEntry* old, const ZipEntry& entry, PatchUse patches) {
    if (old && sameContent(*old, entry)) {
        append(runs, true, old->start, entry.end - entry.start);
    } else if (old && patches == PatchUse::Ask && mayPatch(*old, entry)) {
        // Without a data descriptor the data ends the entry's bytes.
        const std::uint64_t dataStart = entry.end - entry.compressedSize;
        append(runs, false, entry.start, dataStart - entry.start);
        runs.push_back({false, dataStart, entry.compressedSize, PatchedEntry{*old, entry, dataStart}});
    } else {
        append(runs, false, entry.start, entry.end - entry.start);
    }
}

}  // namespace

std::vector<RebuildStep> planRebuild(const ZipDirectory& oldPackage, const ZipDirectory& newPackage,
                                     std::uint64_t mergeGap, PatchUse patches) {
    std::map<std::string_view, const ZipEntry*> oldEntries;
    for (const ZipEntry& entry : oldPackage.entries) {
        oldEntries.emplace(entry.name, &entry);
    }
    std::vector<RebuildStep> runs;
    for (const ZipEntry& entry : newPackage.entries) {
        const auto old = oldEntries.find(entry.name);
        appendEntry(runs, old != oldEntries.end() ? old->second : nullptr, entry, patches);
    }
    // A short copied run between two fetched ones is fetched with them: a
    // request saved. Beside a patched run it saves none, and stays copied.
    std::vector<RebuildStep> steps;
    std::uint64_t target = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
        const RebuildStep& run = runs[i];
        const bool between = i > 0 && i + 1 < runs.size() && fetchedRun(runs[i - 1]) && fetchedRun(runs[i + 1]);
        if (run.patched) {
            steps.push_back(run);
        } else if (run.fromOldPackage && !(between && run.length < mergeGap)) {
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
    return bytesOf(steps, fetchedRun);
}

std::uint64_t copiedBytes(const std::vector<RebuildStep>& steps) {
    return bytesOf(steps, [](const RebuildStep& step) { return step.fromOldPackage; });
}

std::uint64_t patchedBytes(const std::vector<RebuildStep>& steps) {
    return bytesOf(steps, [](const RebuildStep& step) { return step.patched.has_value(); });
}
