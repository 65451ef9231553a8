#include "install/holders.h"

#include <algorithm>

namespace {

constexpr size_t kNamedInBox = 3;
// A long list says nothing more to a support person.
constexpr size_t kNamedInLog = 10;

bool contains(const std::vector<DWORD>& ids, DWORD id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

}  // namespace

HoldWatch startHoldWatch(ULONGLONG nowMs) {
    return {nowMs, {}, nowMs, {}};
}

[[gnu::cold]] HoldVerdict judgeHolders(const HoldWatch& watch, const HolderLook& look, ULONGLONG nowMs, const HoldBounds& bounds) {
    HoldVerdict verdict{watch, {}, {}, false};
    std::vector<DWORD> seen;
    for (const Holder& holder : look.holders) {
        if (holder.self || contains(seen, holder.processId)) {
            continue;
        }
        seen.push_back(holder.processId);
        if (holder.ofFolder && !contains(watch.stopped, holder.processId)) {
            verdict.stop.push_back(holder.processId);
            verdict.watch.stopped.push_back(holder.processId);
        } else if (!holder.name.empty() && verdict.named.size() < kNamedInBox &&
                   std::find(verdict.named.begin(), verdict.named.end(), holder.name) == verdict.named.end()) {
            verdict.named.push_back(holder.name);
        }
    }
    std::sort(seen.begin(), seen.end());
    if (seen != watch.seen) {
        verdict.watch.seen = seen;
        verdict.watch.seenSinceMs = nowMs;
    }
    // Holders the Restart Manager cannot see (a scanner's driver, a folder
    // that is some program's current folder) leave an empty list: only the
    // bound ends the wait for them.
    const bool staying = look.answered && !seen.empty() && verdict.stop.empty() &&
                         nowMs - verdict.watch.seenSinceMs >= bounds.steadyMs;
    verdict.giveUp = staying || nowMs - watch.startedMs >= bounds.totalMs;
    return verdict;
}

[[gnu::cold]] std::wstring holdersLogText(const HolderLook& look) {
    if (!look.answered) {
        return L"unknown";
    }
    std::wstring text;
    size_t listed = 0;
    for (const Holder& holder : look.holders) {
        if (holder.self) {
            continue;
        }
        if (listed++ == kNamedInLog) {
            text.append(L", ...");
            break;
        }
        text.append(text.empty() ? L"" : L", ").append(holder.name.empty() ? L"?" : holder.name);
        text.append(L" (").append(std::to_wstring(holder.processId)).append(L")");
    }
    return text.empty() ? L"none" : text;
}
