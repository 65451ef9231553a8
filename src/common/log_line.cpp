#include "common/log_line.h"

#include "common/encoding.h"

#include <utility>

namespace {

bool needsQuotes(std::string_view value) {
    return value.empty() || value.find_first_of(" \"=") != std::string_view::npos;
}

void appendValue(std::string& line, std::string_view value) {
    const bool quoted = needsQuotes(value);
    if (quoted) {
        line += '"';
    }
    for (const char byte : value) {
        const auto unit = static_cast<unsigned char>(byte);
        if (unit < 0x20 || unit == 0x7F) {
            line += '?';
            continue;
        }
        if (byte == '"') {
            line += '"';
        }
        line += byte;
    }
    if (quoted) {
        line += '"';
    }
}

bool isSeparator(wchar_t unit) {
    return unit == L'\\' || unit == L'/';
}

bool sameIgnoringCase(std::wstring_view text, std::wstring_view name) {
    return CompareStringOrdinal(text.data(), static_cast<int>(text.size()), name.data(),
                                static_cast<int>(name.size()), TRUE) == CSTR_EQUAL;
}

// Replaces each occurrence of the name that the rule accepts at its place:
// what comes before it (at) and what follows it (end, one past the name).
template <typename Accepts>
void replaceName(std::wstring& text, std::wstring_view name, std::wstring_view replacement, Accepts accepts) {
    if (name.empty()) {
        return;
    }
    for (size_t at = 0; at + name.size() <= text.size(); ++at) {
        const size_t end = at + name.size();
        const bool bounded = end == text.size() || isSeparator(text[end]) || text[end] == L'"';
        if (bounded && accepts(at) && sameIgnoringCase(std::wstring_view(text).substr(at, name.size()), name)) {
            text.replace(at, name.size(), replacement);
            at += replacement.size() - 1;
        }
    }
}

}  // namespace

LogField::LogField(const char* name, std::string_view text) : key(name), value(text) {}

LogField::LogField(const char* name, const std::wstring& text) : key(name), value(encodeUtf8(text)) {}

std::string formatLogLine(const SYSTEMTIME& utc, std::string_view runId, std::string_view event,
                          std::initializer_list<LogField> fields) {
    std::string line = std::to_string(utc.wYear);
    for (const auto& [separator, value] : {std::pair{'-', utc.wMonth}, {'-', utc.wDay}, {'T', utc.wHour},
                                           {':', utc.wMinute}, {':', utc.wSecond}}) {
        line.append(1, separator);
        line.append(1, static_cast<char>('0' + value / 10)).append(1, static_cast<char>('0' + value % 10));
    }
    line.append("Z ").append(runId).append(" ").append(event);
    for (const LogField& field : fields) {
        line.append(" ").append(field.key).append("=");
        appendValue(line, field.value);
    }
    return line;
}

std::wstring withoutPersonalNames(std::wstring text, const PersonalNames& names) {
    replaceName(text, names.profile, L"%USERPROFILE%", [](size_t) { return true; });
    const auto folder = [&text](size_t at) { return at > 0 && isSeparator(text[at - 1]); };
    replaceName(text, names.user, L"%USERNAME%", folder);
    replaceName(text, names.computer, L"%COMPUTERNAME%", folder);
    return text;
}
