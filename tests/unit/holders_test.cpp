#include "install/holders.h"

#include <gtest/gtest.h>

namespace {

const HoldBounds kBounds{30000, 10000};
const Holder kExcel{40, L"Microsoft Excel", false, false};
const Holder kExplorer{8, L"Windows Explorer", false, false};
const Holder kHelper{77, L"helper.exe", true, false};
const Holder kSelf{5, L"nirva_updater.exe", false, true};

// Each case is a series of looks, a second apart from the first refused
// move at 0 ms, and what the last one decides.
struct Case {
    const char* name;
    std::vector<HolderLook> looks;
    std::vector<DWORD> stop;
    std::vector<std::wstring> named;
    bool giveUp;
};

TEST(JudgeHolders, StopsTheFoldersOwnProgramsOnceNamesTheOthersAndWaitsOnlyWhileTheyChange) {
    const HolderLook excel{true, {kExcel}};
    const HolderLook nobody{true, {}};
    const HolderLook unknown{false, {}};
    const Case cases[] = {
        {"the release's own program is stopped, not named", {{true, {kHelper, kExcel}}}, {77}, {L"Microsoft Excel"},
         false},
        {"and only once: then it is named", {{true, {kHelper}}, {true, {kHelper}}}, {}, {L"helper.exe"}, false},
        {"never this updater", {{true, {kSelf, kExcel}}}, {}, {L"Microsoft Excel"}, false},
        {"each name once, three at most",
         {{true, {kExcel, {41, L"Microsoft Excel", false, false}, kExplorer, {9, L"", false, false},
                  {10, L"Ledger", false, false}, {11, L"Viewer", false, false}}}},
         {}, {L"Microsoft Excel", L"Windows Explorer", L"Ledger"}, false},
        {"the same holders for less than 10 s", std::vector(10, excel), {}, {L"Microsoft Excel"}, false},
        {"the same holders for 10 s", std::vector(11, excel), {}, {L"Microsoft Excel"}, true},
        {"holders that change", {excel, excel, excel, excel, excel, {true, {kExplorer}}, excel, excel, excel, excel, excel},
         {}, {L"Microsoft Excel"}, false},
        {"nobody named: until the bound", std::vector(30, nobody), {}, {}, false},
        {"nobody named, at the bound", std::vector(31, nobody), {}, {}, true},
        {"no answer, at the bound", std::vector(31, unknown), {}, {}, true},
        {"held, then nobody", {excel, nobody}, {}, {}, false},
    };
    for (const Case& c : cases) {
        HoldWatch watch = startHoldWatch(0);
        HoldVerdict verdict;
        for (size_t i = 0; i < c.looks.size(); ++i) {
            verdict = judgeHolders(watch, c.looks[i], i * 1000, kBounds);
            watch = verdict.watch;
        }
        EXPECT_EQ(verdict.stop, c.stop) << c.name;
        EXPECT_EQ(verdict.named, c.named) << c.name;
        EXPECT_EQ(verdict.giveUp, c.giveUp) << c.name;
    }
}

TEST(HoldersLogText, NamesEachHolderWithItsProcessIdOrSaysWhyNone) {
    EXPECT_EQ(holdersLogText({true, {kSelf, kExcel, {9, L"", false, false}}}), L"Microsoft Excel (40), ? (9)");
    EXPECT_EQ(holdersLogText({true, {kSelf}}), L"none");
    EXPECT_EQ(holdersLogText({false, {}}), L"unknown");
}

}  // namespace
