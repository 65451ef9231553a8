#include "common/fault_rules.h"

#include "common/encoding.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<std::wstring_view, FaultOperation>, 8> kOperationNames = {{
    {L"open", FaultOperation::Open},
    {L"create", FaultOperation::Create},
    {L"write", FaultOperation::Write},
    {L"flush", FaultOperation::Flush},
    {L"move", FaultOperation::Move},
    {L"delete", FaultOperation::Delete},
    {L"identify", FaultOperation::Identify},
    {L"holders", FaultOperation::Holders},
}};

bool sameIgnoringCase(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::vector<std::wstring_view> split(std::wstring_view text, wchar_t separator) {
    std::vector<std::wstring_view> parts;
    for (size_t start = 0;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::wstring_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

std::optional<std::uint32_t> smallNumber(std::wstring_view text) {
    const std::optional<std::uint64_t> number = parseDecimal(std::wstring(text));
    if (!number || *number > UINT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*number);
}

bool readSpan(std::wstring_view text, FaultRule& rule) {
    if (text == L"always") {
        return true;
    }
    const bool milliseconds = text.ends_with(L"ms");
    const std::optional<std::uint32_t> amount = smallNumber(milliseconds ? text.substr(0, text.size() - 2) : text);
    if (!amount || *amount == 0) {
        return false;
    }
    rule.span = milliseconds ? FaultRule::Span::Milliseconds : FaultRule::Span::Calls;
    rule.amount = *amount;
    return true;
}

std::optional<FaultRule> parseRule(std::wstring_view text) {
    const std::vector<std::wstring_view> fields = split(text, L':');
    if (fields.size() < 3 || fields.size() > 4 || fields[1].empty()) {
        return std::nullopt;
    }
    FaultRule rule;
    const auto named = std::find_if(kOperationNames.begin(), kOperationNames.end(),
                                    [&](const auto& entry) { return entry.first == fields[0]; });
    const std::optional<std::uint32_t> value = smallNumber(fields[2]);
    if (named == kOperationNames.end() || !value || (fields.size() == 4 && !readSpan(fields[3], rule))) {
        return std::nullopt;
    }
    rule.operation = named->second;
    rule.path = std::wstring(fields[1]);
    rule.value = *value;
    return rule;
}

}  // namespace

std::wstring_view faultOperationName(FaultOperation operation) {
    const auto named = std::find_if(kOperationNames.begin(), kOperationNames.end(),
                                    [operation](const auto& entry) { return entry.second == operation; });
    return named == kOperationNames.end() ? L"?" : named->first;
}

std::optional<std::vector<FaultRule>> parseFaultRules(std::wstring_view text) {
    std::vector<FaultRule> rules;
    for (const std::wstring_view part : split(text, L';')) {
        if (part.empty()) {
            continue;
        }
        std::optional<FaultRule> rule = parseRule(part);
        if (!rule) {
            return std::nullopt;
        }
        rules.push_back(std::move(*rule));
    }
    return rules;
}

bool faultRuleCovers(const FaultRule& rule, FaultOperation operation, std::wstring_view path) {
    if (rule.operation != operation) {
        return false;
    }
    if (rule.path == L".") {
        return path != L"." && path.find(L'\\') == std::wstring_view::npos && path.find(L':') == std::wstring_view::npos;
    }
    return path.size() >= rule.path.size() && sameIgnoringCase(path.substr(0, rule.path.size()), rule.path) &&
           (path.size() == rule.path.size() || path[rule.path.size()] == L'\\');
}

std::wstring officeRelativePath(std::wstring_view fullPath, std::wstring_view officeFolder) {
    // A folder of a drive's root ends in its separator already.
    const size_t base = officeFolder.ends_with(L'\\') ? officeFolder.size() : officeFolder.size() + 1;
    if (fullPath.size() >= officeFolder.size() && sameIgnoringCase(fullPath.substr(0, officeFolder.size()), officeFolder)) {
        if (fullPath.size() == officeFolder.size()) {
            return L".";
        }
        if (fullPath.size() > base && fullPath[base - 1] == L'\\') {
            return std::wstring(fullPath.substr(base));
        }
    }
    return std::wstring(fullPath);
}
