#pragma once

// The support log's lines, and what keeps them free of personal names: pure
// text work. common/support_log writes the lines to the office folder.

#include <windows.h>

#include <concepts>
#include <initializer_list>
#include <string>
#include <string_view>

// One key=value pair of an event; the value is UTF-8 text.
struct LogField {
    LogField(const char* name, std::string_view text);
    LogField(const char* name, const std::wstring& text);
    template <std::integral Number>
    LogField(const char* name, Number number) : key(name), value(std::to_string(number)) {}

    const char* key;
    std::string value;
};

// "2026-12-01T08:30:00Z 5f3a9c01 event key=value ...", without a line end.
// A value that is empty or holds a space, a quotation mark or an equals sign
// is put in quotation marks, with each one inside doubled, so that the line
// splits back into its pairs; control characters become '?', so that an
// event is always one line.
std::string formatLogLine(const SYSTEMTIME& utc, std::string_view runId, std::string_view event,
                          std::initializer_list<LogField> fields);

// What a path or a command line can tell about who uses the machine.
struct PersonalNames {
    std::wstring profile;   // the user's profile folder, e.g. C:\Users\<name>
    std::wstring user;      // the logon name
    std::wstring computer;  // the machine's name
};

// The text with the profile folder written as %USERPROFILE% wherever it
// stands, then every folder named exactly as the user or the
// computer (\\<computer>\share, D:\<name>\office) written as %USERNAME% or
// %COMPUTERNAME%; letter case is ignored as the file system ignores it.
std::wstring withoutPersonalNames(std::wstring text, const PersonalNames& names);
