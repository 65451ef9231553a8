#include "common/fault_rules.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using Span = FaultRule::Span;
using enum FaultOperation;

TEST(ParseFaultRules, ReadsEachRuleAndRefusesAnyMalformedOne) {
    const auto rules = parseFaultRules(L"move:NIRVA:32:5;create:update:112;;flush:nirva.zip.partial:1117:always;"
                                       L"move:update:5:1500ms;holders:NIRVA:4242");
    ASSERT_TRUE(rules.has_value());
    const std::vector<FaultRule> expected = {
        {Move, L"NIRVA", 32, Span::Calls, 5},         {Create, L"update", 112, Span::Always, 0},
        {Flush, L"nirva.zip.partial", 1117, Span::Always, 0}, {Move, L"update", 5, Span::Milliseconds, 1500},
        {Holders, L"NIRVA", 4242, Span::Always, 0},
    };
    EXPECT_EQ(*rules, expected);
    EXPECT_EQ(parseFaultRules(L""), std::vector<FaultRule>{});
    for (const wchar_t* bad : {L"rename:NIRVA:32", L"move:NIRVA", L"move::32", L"move:NIRVA:x", L"move:NIRVA:32:0",
                               L"move:NIRVA:32:soon", L"move:NIRVA:32:5:6", L"move:NIRVA:32;flush", L"MOVE:NIRVA:32",
                               L"move:NIRVA:4294967296", L"move:NIRVA:32:ms"}) {
        EXPECT_FALSE(parseFaultRules(bad).has_value()) << testing::PrintToString(std::wstring(bad));
    }
}

TEST(FaultRuleCovers, ThePathAndWhatLiesUnderItOrWhatLiesDirectlyInTheOfficeFolder) {
    const FaultRule update{Create, L"update", 112, Span::Always, 0};
    const FaultRule office{Create, L".", 5, Span::Always, 0};
    const std::tuple<const FaultRule&, FaultOperation, const wchar_t*, bool> cases[] = {
        {update, Create, L"update", true},       {update, Create, L"UPDATE\\bin\\x.dll", true},
        {update, Create, L"updater", false},     {update, Create, L"NIRVA\\update", false},
        {update, Write, L"update\\x.dll", false}, {office, Create, L"nirva_updater.probe", true},
        {office, Create, L"update\\x.dll", false}, {office, Create, L".", false},
        {office, Create, L"D:\\elsewhere", false},
    };
    for (const auto& [rule, operation, path, covered] : cases) {
        EXPECT_EQ(faultRuleCovers(rule, operation, path), covered) << testing::PrintToString(std::wstring(path));
    }
}

TEST(OfficeRelativePath, IsTheNameInsideTheOfficeFolderAndAnyOtherPathAsItIs) {
    const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\Office\\NIRVA\\bin", L"C:\\Office", L"NIRVA\\bin"},
        {L"c:\\OFFICE\\nirva.zip", L"C:\\Office", L"nirva.zip"},
        {L"C:\\Office", L"C:\\Office", L"."},
        {L"C:\\Office 2\\NIRVA", L"C:\\Office", L"C:\\Office 2\\NIRVA"},
        {L"N:\\NIRVA", L"N:\\", L"NIRVA"},
    };
    for (const auto& [full, office, relative] : cases) {
        EXPECT_EQ(officeRelativePath(full, office), relative) << testing::PrintToString(std::wstring(full));
    }
}

}  // namespace
