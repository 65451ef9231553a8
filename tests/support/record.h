// Shared by the test helper programs: JSON text and
// append-only record files that several processes write at once.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace support {

std::string toUtf8(std::wstring_view text);

// The text as a quoted, escaped JSON string in UTF-8.
std::string jsonString(std::wstring_view text);

std::optional<std::wstring> environmentValue(const wchar_t* name);

// Builds one JSON object member by member; keys are plain ASCII.
class JsonObject {
public:
    JsonObject& raw(std::string_view key, std::string_view encodedValue);
    JsonObject& text(std::string_view key, std::wstring_view value);
    JsonObject& number(std::string_view key, long long value);
    JsonObject& boolean(std::string_view key, bool value);
    // "pid", "cwd", "cmdline" and "exe" of this process.
    JsonObject& processFields();
    std::string finish() const;

private:
    std::string json_ = "{";
};

// Appends the line and a newline to the file named by the environment
// variable, if it is set, with a single write so concurrent writers never
// interleave. Returns false only when a set record file cannot be written.
bool appendRecord(const wchar_t* environmentName, const std::string& jsonLine);

}  // namespace support
