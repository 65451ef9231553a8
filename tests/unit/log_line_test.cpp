#include "common/log_line.h"

#include <gtest/gtest.h>

namespace {

TEST(FormatLogLine, KeepsEveryEventOnOneLineThatSplitsBackIntoItsPairs) {
    const SYSTEMTIME utc{2026, 12, 2, 1, 8, 5, 9, 250};
    const struct {
        std::string value;
        const char* written;
    } cases[] = {
        {"200", "k=200"},
        {"", "k=\"\""},
        {"C:\\NIRVA office\\", "k=\"C:\\NIRVA office\\\""},
        {"\"C:\\o\\nirva_updater.exe\" --x", "k=\"\"\"C:\\o\\nirva_updater.exe\"\" --x\""},
        {"a=b", "k=\"a=b\""},
        {"two\r\nlines\tand\x7f", "k=two??lines?and?"},
        {"\xD8\xAF\xD9\x81\xD8\xAA\xD8\xB1", "k=\xD8\xAF\xD9\x81\xD8\xAA\xD8\xB1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatLogLine(utc, "0a1b2c3d", "start", {{"k", c.value}}),
                  std::string("2026-12-01T08:05:09Z 0a1b2c3d start ") + c.written);
    }
    EXPECT_EQ(formatLogLine(utc, "r", "request", {{"status", 404u}, {"path", std::wstring(L"/p")}}),
              "2026-12-01T08:05:09Z r request status=404 path=/p");
}

TEST(WithoutPersonalNames, WritesTheProfileTheUserAndTheMachineAsVariables) {
    const PersonalNames names{L"C:\\Users\\Ali", L"Ali", L"OFFICE-PC"};
    const struct {
        const wchar_t* text;
        const wchar_t* logged;
    } cases[] = {
        {L"C:\\Users\\Ali", L"%USERPROFILE%"},
        {L"c:\\users\\ALI\\Desktop\\NIRVA", L"%USERPROFILE%\\Desktop\\NIRVA"},
        {L"\"C:\\Users\\Ali\\u.exe\" --x", L"\"%USERPROFILE%\\u.exe\" --x"},
        {L"C:\\Users\\Alice\\office", L"C:\\Users\\Alice\\office"},
        {L"D:\\Ali\\office", L"D:\\%USERNAME%\\office"},
        {L"D:\\Alibaba\\office", L"D:\\Alibaba\\office"},
        {L"\\\\office-pc\\share\\Ali", L"\\\\%COMPUTERNAME%\\share\\%USERNAME%"},
        {L"D:\\Ali office", L"D:\\Ali office"},
        {L"Ali", L"Ali"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(withoutPersonalNames(c.text, names), c.logged) << testing::PrintToString(std::wstring(c.text));
    }
    EXPECT_EQ(withoutPersonalNames(L"C:\\x", {}), L"C:\\x");
}

}  // namespace
