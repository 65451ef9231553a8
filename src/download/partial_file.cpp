#include "download/partial_file.h"

#include "common/encoding.h"
#include "common/file_system.h"
#include "common/layout.h"

#include <algorithm>

#include <vector>

namespace {

// A power cut loses at most this much of what was received.
constexpr std::uint64_t kFlushEveryBytes = 4u * 1024 * 1024;
constexpr DWORD kRehashBufferBytes = 256 * 1024;
// A record is a few lines; anything larger is not one.
constexpr LONGLONG kMaxRecordBytes = 64 * 1024;

bool hashBytes(PartialFile& partial, const unsigned char* bytes, DWORD count) {
    return !partial.hasher.hash || addToSha256(partial.hasher, bytes, count);
}

bool hashMatches(PartialFile& partial, const Sha256Digest& expected) {
    return partial.hasher.hash && finishSha256(partial.hasher) == expected;
}

bool truncateTo(HANDLE file, std::uint64_t length) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(length);
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

std::optional<PartialRecord> readRecord(const std::wstring& path) {
    const OwnedFileHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxRecordBytes ||
        size.QuadPart % sizeof(wchar_t) != 0) {
        return std::nullopt;
    }
    std::wstring text(static_cast<size_t>(size.QuadPart) / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(size.QuadPart), &read, nullptr) ||
        read != size.QuadPart) {
        return std::nullopt;
    }
    return parseRecord(text);
}

// Written through to the disk: a record must never describe bytes the file
// lost, nor outlive them.
bool writeRecord(const std::wstring& path, const PartialRecord& record) {
    const std::wstring text = recordText(record);
    return writeWholeFile(path.c_str(), std::as_bytes(std::span(text)));
}

bool rehashKeptBytes(PartialFile& partial) {
    if (!SetFilePointerEx(partial.file.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
        return false;
    }
    std::vector<unsigned char> buffer(kRehashBufferBytes);
    for (std::uint64_t hashed = 0; hashed < partial.kept;) {
        DWORD read = 0;
        if (!ReadFile(partial.file.get(), buffer.data(), kRehashBufferBytes, &read, nullptr) || read == 0 ||
            !hashBytes(partial, buffer.data(), read)) {
            return false;
        }
        hashed += read;
    }
    return true;
}

}  // namespace

Failure openPartial(PartialFile& partial, const std::wstring& packagePath, const std::wstring& url,
                    const std::optional<Sha256Digest>& digest) {
    partial.path = packagePath + kPartialSuffix;
    partial.recordPath = packagePath + kPartialRecordSuffix;
    partial.file = openFile(partial.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    LARGE_INTEGER size{};
    if (!partial.file || !GetFileSizeEx(partial.file.get(), &size)) {
        partial.file.reset();
        return {FailureStep::Download, FailureKind::Disk, 0, GetLastError()};
    }
    partial.record = PartialRecord{url, digestText(digest), 0, {}};
    partial.kept = static_cast<std::uint64_t>(size.QuadPart);
    partial.unflushed = 0;
    partial.verified = false;
    partial.roomUntil = 0;
    partial.nextSpaceCheck = 0;
    partial.hasher.hash.reset();
    const Failure noHash{FailureStep::Download, FailureKind::System, 0, 0};
    if (digest && !startSha256(partial.hasher)) {
        partial.file.reset();
        return noHash;
    }
    const std::optional<PartialRecord> record = readRecord(partial.recordPath);
    const bool whole = record && mayTakeWhole(*record, partial.kept, url, partial.record.sha256);
    if (record && (whole || mayContinue(*record, partial.kept, url, partial.record.sha256)) &&
        lengthAllowed(record->total, partial.bounds)) {
        partial.record = *record;
        if (rehashKeptBytes(partial)) {
            return {};
        }
        // Unreadable kept bytes are as good as none.
        if (digest && !startSha256(partial.hasher)) {
            partial.file.reset();
            return noHash;
        }
    }
    discardPartial(partial);
    return {};
}

bool restartPartial(PartialFile& partial, const PartialRecord& record) {
    if (!lengthAllowed(record.total, partial.bounds)) {
        return false;
    }
    if (partial.kept != 0) {
        discardPartial(partial);
    }
    partial.record = record;
    return partial.file && partial.kept == 0 && (!partial.hasher.hash || startSha256(partial.hasher)) &&
           writeRecord(partial.recordPath, record);
}

Failure reserveRoom(PartialFile& partial, std::uint64_t length) {
    const std::uint64_t more = length - std::min(length, partial.kept);
    const std::optional<std::uint64_t> freeBytes = freeBytesBeside(partial.path.c_str());
    if (freeBytes && !leavesFloor(*freeBytes, more, partial.bounds)) {
        return {FailureStep::Download, FailureKind::Disk, 0, kDiskFullError};
    }
    partial.roomUntil = std::max(partial.roomUntil, length);
    partial.nextSpaceCheck = partial.kept + kSpaceCheckEveryBytes;
    return {};
}

Failure writeToPartial(PartialFile& partial, const unsigned char* bytes, DWORD count) {
    const std::uint64_t limit = fileLimit(partial.record.total, partial.bounds);
    if (count > limit - std::min(limit, partial.kept)) {
        return {FailureStep::Download, partial.record.total != 0 ? FailureKind::BadAnswer : FailureKind::TooLarge};
    }
    if (partial.kept + count > std::min(partial.roomUntil, partial.nextSpaceCheck)) {
        const std::uint64_t ahead = std::max<std::uint64_t>(count, kSpaceCheckEveryBytes);
        const std::uint64_t room = std::max(partial.roomUntil, std::min(limit, partial.kept + ahead));
        if (const Failure failure = reserveRoom(partial, room)) {
            return failure;
        }
    }
    if (!writeToFile(partial.file.get(), partial.path.c_str(), bytes, count) || !hashBytes(partial, bytes, count)) {
        const DWORD error = GetLastError();
        truncateTo(partial.file.get(), partial.kept);
        return {FailureStep::Download, FailureKind::Disk, 0, error};
    }
    partial.kept += count;
    partial.unflushed += count;
    if (partial.unflushed >= kFlushEveryBytes) {
        flushPartial(partial);
    }
    return {};
}

bool readPartial(PartialFile& partial, std::uint64_t offset, std::span<std::uint8_t> bytes) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(partial.kept);
    const bool kept = bytes.size() <= partial.kept && offset <= partial.kept - bytes.size();
    const bool done = kept &&
                      ReadFile(partial.file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, &at) &&
                      read == bytes.size();
    // Appends go on at the end, whatever the read did; a file that cannot
    // be put back there keeps nothing.
    if (!SetFilePointerEx(partial.file.get(), end, nullptr, FILE_BEGIN)) {
        discardPartial(partial);
        return false;
    }
    return done;
}

bool cutPartialBack(PartialFile& partial, std::uint64_t length) {
    if (length <= partial.kept && truncateTo(partial.file.get(), length) && FlushFileBuffers(partial.file.get())) {
        partial.kept = length;
        partial.unflushed = 0;
        if (!partial.hasher.hash || (startSha256(partial.hasher) && rehashKeptBytes(partial))) {
            return true;
        }
    }
    discardPartial(partial);
    return false;
}

bool flushPartial(PartialFile& partial) {
    if (partial.file && flushToDisk(partial.file.get(), partial.path.c_str())) {
        partial.unflushed = 0;
        return true;
    }
    return false;
}

bool isWhole(const PartialFile& partial) {
    return partial.file && mayTakeWhole(partial.record, partial.kept, partial.record.url, partial.record.sha256);
}

void discardPartial(PartialFile& partial) {
    // The record goes first and the bytes are gone from the disk before a
    // new record can be written, so that no record ever describes bytes of
    // another file.
    DeleteFileW(partial.recordPath.c_str());
    if (partial.kept != 0 && partial.file &&
        !(truncateTo(partial.file.get(), 0) && FlushFileBuffers(partial.file.get()))) {
        partial.file.reset();
        DeleteFileW(partial.path.c_str());
    }
    partial.kept = 0;
    partial.unflushed = 0;
    partial.record.total = 0;
    partial.record.validator.clear();
}

void dropPartial(PartialFile& partial) {
    partial.file.reset();
    DeleteFileW(partial.recordPath.c_str());
    DeleteFileW(partial.path.c_str());
    partial.kept = 0;
    partial.unflushed = 0;
    partial.record.total = 0;
    partial.record.validator.clear();
}

Failure finishPartial(PartialFile& partial, const std::optional<Sha256Digest>& digest,
                      const std::wstring& packagePath) {
    if (!partial.verified) {
        if (digest && !hashMatches(partial, *digest)) {
            // The finished hash is spent; the next attempt starts a new one.
            discardPartial(partial);
            startSha256(partial.hasher);
            return {FailureStep::Download, FailureKind::DigestMismatch};
        }
        partial.verified = true;
    }
    // Only bytes on the disk become the package: the next attempt, or the
    // next start, which checks the kept file against the digest again,
    // tries once more.
    if (partial.file) {
        if (!flushPartial(partial)) {
            return {FailureStep::Download, FailureKind::Disk, 0, GetLastError()};
        }
        partial.file.reset();
    }
    // The package's name is given to the complete file in one step; a
    // scanner that holds the file just closed is waited for.
    if (!replaceFile(partial.path.c_str(), packagePath.c_str())) {
        return {FailureStep::Download, FailureKind::Disk, 0, GetLastError()};
    }
    DeleteFileW(partial.recordPath.c_str());
    return {};
}

void removePartialDownload(const std::wstring& packagePath) {
    DeleteFileW((packagePath + kPartialRecordSuffix).c_str());
    DeleteFileW((packagePath + kPartialSuffix).c_str());
}
