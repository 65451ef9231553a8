#include "download/resume.h"

#include "common/encoding.h"

#include <cwctype>
#include <vector>

namespace {

constexpr wchar_t kRecordHeading[] = L"nirva partial download";
constexpr size_t kRecordLines = 5;
constexpr std::uint32_t kStatusOk = 200;
constexpr std::uint32_t kStatusPartialContent = 206;
constexpr std::uint32_t kStatusRangeNotSatisfiable = 416;
// Each attempt that adds nothing costs a request and a pause; three in a row
// mean the server is not going to deliver.
constexpr int kMaxFruitlessAttempts = 3;
// A server that sends a few new bytes per connection would otherwise keep
// the download going for ever.
constexpr int kMaxAttempts = 30;

bool startsWithIgnoringCase(const std::wstring& text, const std::wstring& prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::towlower(text[i]) != std::towlower(prefix[i])) {
            return false;
        }
    }
    return true;
}

std::wstring withIfRange(std::wstring headers, const std::wstring& validator) {
    if (!validator.empty()) {
        headers += L"\r\nIf-Range: " + validator;
    }
    return headers;
}

}  // namespace

std::wstring recordText(const PartialRecord& record) {
    return std::wstring(kRecordHeading) + L"\n" + record.url + L"\n" + record.sha256 + L"\n" +
           std::to_wstring(record.total) + L"\n" + record.validator + L"\n";
}

std::optional<PartialRecord> parseRecord(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end = text.find(L'\n'); end != std::wstring::npos; end = text.find(L'\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    // A record cut short by a power cut lacks its last line feed.
    if (start != text.size() || lines.size() != kRecordLines || lines[0] != kRecordHeading) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> total = parseDecimal(lines[3]);
    if (!total) {
        return std::nullopt;
    }
    return PartialRecord{lines[1], lines[2], *total, lines[4]};
}

bool mayContinue(const PartialRecord& record, std::uint64_t keptBytes, const std::wstring& url,
                 const std::wstring& sha256) {
    // Without a validator or a digest nothing would show that the rest
    // belongs to the same file as the kept bytes.
    const bool vouchedFor = !record.validator.empty() || !sha256.empty();
    return record.url == url && record.sha256 == sha256 && keptBytes > 0 && keptBytes < record.total &&
           vouchedFor;
}

bool mayTakeWhole(const PartialRecord& record, std::uint64_t keptBytes, const std::wstring& url,
                  const std::wstring& sha256) {
    return record.url == url && record.sha256 == sha256 && !sha256.empty() && keptBytes > 0 &&
           keptBytes == record.total;
}

std::wstring chooseValidator(const std::wstring& etag, const std::wstring& lastModified) {
    if (!etag.empty() && !startsWithIgnoringCase(etag, L"W/")) {
        return etag;
    }
    return lastModified;
}

std::wstring rangeRequestHeaders(std::uint64_t keptBytes, const std::wstring& validator) {
    return withIfRange(L"Range: bytes=" + std::to_wstring(keptBytes) + L"-", validator);
}

std::wstring rangeRequestHeaders(std::uint64_t first, std::uint64_t last, const std::wstring& validator) {
    return withIfRange(L"Range: bytes=" + std::to_wstring(first) + L"-" + std::to_wstring(last), validator);
}

std::wstring tailRequestHeaders(std::uint64_t length) {
    return L"Range: bytes=-" + std::to_wstring(length);
}

std::optional<ContentRange> parseContentRange(const std::wstring& value) {
    if (!startsWithIgnoringCase(value, L"bytes ")) {
        return std::nullopt;
    }
    const size_t rangeStart = value.find_first_not_of(L' ', 5);
    if (rangeStart == std::wstring::npos) {
        return std::nullopt;
    }
    const std::wstring range = value.substr(rangeStart);
    const size_t dash = range.find(L'-');
    const size_t slash = range.find(L'/');
    if (dash == std::wstring::npos || slash == std::wstring::npos || slash < dash) {
        return std::nullopt;
    }
    const auto first = parseDecimal(range.substr(0, dash));
    const auto last = parseDecimal(range.substr(dash + 1, slash - dash - 1));
    const auto total = parseDecimal(range.substr(slash + 1));
    if (!first || !last || !total || *first > *last || *last >= *total) {
        return std::nullopt;
    }
    return ContentRange{*first, *last, *total};
}

AnswerUse judgeAnswer(std::uint32_t status, std::uint64_t keptBytes, const PartialRecord& record,
                      const std::wstring& contentRange, const std::wstring& validator) {
    if (status == kStatusOk) {
        return AnswerUse::WholeFile;
    }
    if (status == kStatusRangeNotSatisfiable) {
        return AnswerUse::Discard;
    }
    if (status != kStatusPartialContent) {
        return AnswerUse::Fail;
    }
    // Only the rest of the same file, to its end, continues the kept bytes.
    const std::optional<ContentRange> range = parseContentRange(contentRange);
    const bool sameFile = validator.empty() || validator == record.validator;
    const bool fits = keptBytes > 0 && range && range->first == keptBytes && range->total == record.total &&
                      range->last + 1 == range->total;
    return fits && sameFile ? AnswerUse::Continue : AnswerUse::Discard;
}

bool mayAttemptAgain(const AttemptCount& count) {
    return count.attempts < kMaxAttempts && count.fruitlessInARow < kMaxFruitlessAttempts;
}

void countAttempt(AttemptCount& count, bool addedBytes) {
    ++count.attempts;
    count.fruitlessInARow = addedBytes ? 0 : count.fruitlessInARow + 1;
}

bool gaveUpWhileGaining(const AttemptCount& count) {
    return count.fruitlessInARow < kMaxFruitlessAttempts;
}
