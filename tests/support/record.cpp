#include "record.h"

#include "common/owned_handles.h"

#include <cstdio>

namespace support {

std::string toUtf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length,
                        nullptr, nullptr);
    return result;
}

std::string jsonString(std::wstring_view text) {
    const std::string utf8 = toUtf8(text);
    std::string result = "\"";
    for (const char c : utf8) {
        switch (c) {
            case '"': result += "\\\""; break;
            case '\\': result += "\\\\"; break;
            case '\n': result += "\\n"; break;
            case '\r': result += "\\r"; break;
            case '\t': result += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                    result += escaped;
                } else {
                    result += c;
                }
        }
    }
    return result + "\"";
}

std::optional<std::wstring> environmentValue(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return std::nullopt;
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), size));
    return value;
}

static std::wstring currentDirectory() {
    std::wstring directory(GetCurrentDirectoryW(0, nullptr), L'\0');
    directory.resize(GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data()));
    return directory;
}

static std::wstring modulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

JsonObject& JsonObject::raw(std::string_view key, std::string_view encodedValue) {
    if (json_.size() > 1) json_ += ',';
    json_ += '"';
    json_ += key;
    json_ += "\":";
    json_ += encodedValue;
    return *this;
}

JsonObject& JsonObject::text(std::string_view key, std::wstring_view value) { return raw(key, jsonString(value)); }

JsonObject& JsonObject::number(std::string_view key, long long value) { return raw(key, std::to_string(value)); }

JsonObject& JsonObject::boolean(std::string_view key, bool value) { return raw(key, value ? "true" : "false"); }

JsonObject& JsonObject::processFields() {
    return number("pid", GetCurrentProcessId())
        .text("cwd", currentDirectory())
        .text("cmdline", GetCommandLineW())
        .text("exe", modulePath());
}

std::string JsonObject::finish() const { return json_ + '}'; }

bool appendRecord(const wchar_t* environmentName, const std::string& jsonLine) {
    const auto path = environmentValue(environmentName);
    if (!path) return true;
    const OwnedFileHandle file(CreateFileW(path->c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    const std::string line = jsonLine + "\n";
    DWORD written = 0;
    return WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
           written == line.size();
}

}  // namespace support
