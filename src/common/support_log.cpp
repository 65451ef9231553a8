#include "common/support_log.h"

#include "common/encoding.h"
#include "common/layout.h"

#include <array>
#include <cstdint>

namespace {

OwnedFileHandle openLog() {
    return OwnedFileHandle(CreateFileW(kSupportLogFile, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::uint64_t sizeOf(HANDLE file) {
    LARGE_INTEGER size{};
    return file != nullptr && GetFileSizeEx(file, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

// Short, and new for every run, so that the lines of two runs that
// interleave in time (a second start while one ends) stay apart.
std::string newRunId() {
    std::array<std::uint8_t, 4> random{};
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, random.data(), static_cast<ULONG>(random.size()),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        const auto fallback = static_cast<DWORD>(GetCurrentProcessId() ^ GetTickCount64());
        random = {static_cast<std::uint8_t>(fallback >> 24), static_cast<std::uint8_t>(fallback >> 16),
                  static_cast<std::uint8_t>(fallback >> 8), static_cast<std::uint8_t>(fallback)};
    }
    return lowercaseHex(random);
}

std::wstring environmentValue(const wchar_t* name) {
    std::wstring value(MAX_PATH, L'\0');
    DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (length >= value.size()) {
        value.resize(length);
        length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    }
    value.resize(length < value.size() ? length : 0);
    return value;
}

}  // namespace

SupportLog::SupportLog()
    : file_(openLog()),
      size_(sizeOf(file_.get())),
      runId_(newRunId()),
      names_{environmentValue(L"USERPROFILE"), environmentValue(L"USERNAME"), environmentValue(L"COMPUTERNAME")} {}

void SupportLog::write(std::string_view event, std::initializer_list<LogField> fields) {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    const std::string line = formatLogLine(now, runId_, event, fields) + "\r\n";
    AcquireSRWLockExclusive(&lock_);
    if (file_ && (size_ < kSupportLogLimit || rotate())) {
        DWORD written = 0;
        if (WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
            written == line.size()) {
            size_ += written;
        } else {
            file_.reset();
        }
    }
    ReleaseSRWLockExclusive(&lock_);
}

std::wstring SupportLog::impersonal(const std::wstring& text) const {
    return withoutPersonalNames(text, names_);
}

// A log that cannot be rotated is not written any more: the bound on its
// size is what lets it be always on.
bool SupportLog::rotate() {
    file_.reset();
    if (!MoveFileExW(kSupportLogFile, kPreviousSupportLogFile, MOVEFILE_REPLACE_EXISTING)) {
        return false;
    }
    file_ = openLog();
    size_ = sizeOf(file_.get());
    return static_cast<bool>(file_);
}

void logOutcome(SupportLog& log, std::string_view result, const std::wstring& version, const Failure& failure) {
    log.write("outcome", {{"result", result},
                          {"version", version},
                          {"step", failureStepName(failure.step)},
                          {"cause", failureKindName(failure.kind)},
                          {"status", failure.httpStatus},
                          {"error", failure.systemError}});
}

RequestLogLine::RequestLogLine(SupportLog& log, std::wstring path)
    : log_(log), path_(std::move(path)), started_(GetTickCount64()) {}

RequestLogLine::~RequestLogLine() {
    log_.write("request", {{"path", path_},
                           {"status", status},
                           {"bytes", bytes},
                           {"ms", GetTickCount64() - started_},
                           {"error", error}});
}
