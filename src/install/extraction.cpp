#include "install/extraction.h"

#include "archive/entry_decoder.h"
#include "archive/entry_name.h"
#include "archive/local_header.h"
#include "archive/zip_directory.h"
#include "common/file_system.h"
#include "common/owned_handles.h"
#include "install/crash_point.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

namespace {

// Large enough that reads and writes cost little per byte, small beside
// the program itself.
constexpr size_t kBufferSize = 256 * 1024;

Failure badPackage() {
    return {FailureStep::Unpack, FailureKind::BadPackage, 0, 0};
}

Failure failedWith(FailureKind kind, DWORD error) {
    return {FailureStep::Unpack, kind, 0, error};
}

Failure diskFailure() {
    return failedWith(FailureKind::Disk, GetLastError());
}

bool seek(HANDLE file, std::uint64_t position) {
    LARGE_INTEGER offset{};
    offset.QuadPart = static_cast<LONGLONG>(position);
    return SetFilePointerEx(file, offset, nullptr, FILE_BEGIN) != FALSE;
}

bool readExactly(HANDLE file, std::uint64_t position, std::span<std::uint8_t> bytes) {
    if (!seek(file, position)) {
        return false;
    }
    for (size_t done = 0; done < bytes.size();) {
        DWORD read = 0;
        const auto wanted = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, kBufferSize));
        if (!ReadFile(file, bytes.data() + done, wanted, &read, nullptr)) {
            return false;
        }
        if (read == 0) {
            SetLastError(ERROR_HANDLE_EOF);
            return false;
        }
        done += read;
    }
    return true;
}

// The central directory from the package's tail: first as much as any end
// record needs, then, when the directory starts before that, all of it.
Failure readDirectory(HANDLE package, std::optional<ZipDirectory>& directory) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(package, &size)) {
        return diskFailure();
    }
    const auto fileSize = static_cast<std::uint64_t>(size.QuadPart);
    std::uint64_t tailLength = zipEndSearchLength(fileSize);
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::vector<std::uint8_t> tail(tailLength);
        if (!readExactly(package, fileSize - tailLength, tail)) {
            return diskFailure();
        }
        ZipTailReading reading = readZipTail(tail, fileSize);
        if (reading.directory) {
            directory = std::move(reading.directory);
            return {};
        }
        if (reading.neededTailLength <= tailLength || reading.neededTailLength > fileSize) {
            break;
        }
        tailLength = reading.neededTailLength;
    }
    return badPackage();
}

std::wstring fullPathName(const std::wstring& path) {
    std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
    full.resize(GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
    return full;
}

// Every entry is checked before the first file is written: its name, its
// method, and where Windows will really write it, which must lie inside the
// destination (the last guard, should the name rules ever miss a way that
// Windows reads a name).
bool entriesAccepted(const ZipDirectory& directory, const EntryPaths& paths, const std::wstring& destination) {
    const std::wstring fullDestination = fullPathName(destination);
    const auto staysInside = [&](const EntryPath& path) {
        if (path.path.empty()) {
            return path.directory;  // the staging folder's own entry ("./"): nothing to make
        }
        const std::wstring full = fullPathName(destination + L'\\' + path.path);
        return !fullDestination.empty() && full.size() > fullDestination.size() + 1 &&
               full.compare(0, fullDestination.size(), fullDestination) == 0 &&
               full[fullDestination.size()] == L'\\';
    };
    return paths.problem == NameProblem::None &&
           std::all_of(directory.entries.begin(), directory.entries.end(), canDecode) &&
           std::all_of(paths.paths.begin(), paths.paths.end(), staysInside);
}

// Zip keeps the time of the last change in MS-DOS form, in local time.
std::optional<FILETIME> modifiedTime(const ZipEntry& entry) {
    FILETIME local{};
    SYSTEMTIME localTime{};
    SYSTEMTIME universalTime{};
    FILETIME result{};
    if (!DosDateTimeToFileTime(entry.modifiedDate, entry.modifiedTime, &local) ||
        !FileTimeToSystemTime(&local, &localTime) ||
        !TzSpecificLocalTimeToSystemTime(nullptr, &localTime, &universalTime) ||
        !SystemTimeToFileTime(&universalTime, &result)) {
        return std::nullopt;
    }
    return result;
}

// An entry whose time cannot be read keeps the time it was written at.
bool keepModifiedTime(HANDLE file, const ZipEntry& entry) {
    const std::optional<FILETIME> time = modifiedTime(entry);
    return !time || SetFileTime(file, nullptr, nullptr, &*time);
}

// Reads the package front to back through one fixed buffer.
class PackageReader {
public:
    explicit PackageReader(HANDLE file) : file_(file), buffer_(kBufferSize) {}

    // The next bytes, at most `most` of them; empty when the package ended
    // or a read failed.
    std::span<const std::uint8_t> next(size_t most) {
        if (begin_ == end_ && !fill()) {
            return {};
        }
        const size_t count = std::min(most, end_ - begin_);
        begin_ += count;
        return {buffer_.data() + begin_ - count, count};
    }

    bool read(std::span<std::uint8_t> bytes) {
        for (size_t done = 0; done < bytes.size();) {
            const std::span<const std::uint8_t> piece = next(bytes.size() - done);
            if (piece.empty()) {
                return false;
            }
            std::copy(piece.begin(), piece.end(), bytes.begin() + static_cast<std::ptrdiff_t>(done));
            done += piece.size();
        }
        return true;
    }

    std::uint64_t position() const { return filePosition_ - (end_ - begin_); }

    // Goes on at a position in front; what lies between is not read.
    bool skipTo(std::uint64_t target) {
        if (target >= position() && target - position() <= end_ - begin_) {
            begin_ += static_cast<size_t>(target - position());
            return true;
        }
        begin_ = end_ = 0;
        filePosition_ = target;
        if (!seek(file_, target)) {
            error_ = GetLastError();
            return false;
        }
        return true;
    }

    // Why the last read came back empty: Windows's error, or 0 when the
    // package ended before the central directory said it would.
    DWORD error() const { return error_; }

private:
    bool fill() {
        DWORD read = 0;
        begin_ = end_ = 0;
        if (!ReadFile(file_, buffer_.data(), static_cast<DWORD>(buffer_.size()), &read, nullptr)) {
            error_ = GetLastError();
            return false;
        }
        end_ = read;
        filePosition_ += read;
        return read > 0;
    }

    HANDLE file_;
    std::vector<std::uint8_t> buffer_;
    size_t begin_ = 0;
    size_t end_ = 0;
    std::uint64_t filePosition_ = 0;  // of the byte after the buffered ones
    DWORD error_ = 0;
};

class Unpacker {
public:
    Unpacker(HANDLE package, std::wstring destination, FileFlush flush, std::uint64_t dataEnd,
             const UnpackProgress& progress)
        : reader_(package), output_(kBufferSize), decoder_(output_), destination_(std::move(destination)),
          flush_(flush), dataEnd_(std::max<std::uint64_t>(dataEnd, 1)), progress_(progress) {}

    Failure unpackAll(const std::vector<ZipEntry>& entries, const std::vector<EntryPath>& paths);

private:
    Failure unpack(const ZipEntry& entry, const EntryPath& path);
    Failure readFailure() const;
    Failure openData(const ZipEntry& entry);
    Failure createFolders(std::wstring_view relative);
    Failure writeFile(const std::wstring& path, const ZipEntry& entry);
    Failure copyData(HANDLE file, const std::wstring& path, const ZipEntry& entry);
    void reportProgress();

    PackageReader reader_;
    std::vector<std::uint8_t> output_;
    EntryDecoder decoder_;
    std::wstring destination_;
    FileFlush flush_;
    std::uint64_t dataEnd_;
    const UnpackProgress& progress_;
    int reportedPercent_ = -1;
    std::wstring lastFolder_;
};

Failure Unpacker::readFailure() const {
    return reader_.error() != 0 ? failedWith(FailureKind::Disk, reader_.error()) : badPackage();
}

void Unpacker::reportProgress() {
    const auto percent = static_cast<int>(std::min<std::uint64_t>(reader_.position(), dataEnd_) * 100 / dataEnd_);
    if (percent > reportedPercent_) {
        reportedPercent_ = percent;
        progress_(percent);
    }
}

// Reads the local header and leaves the reader at the entry's data, once
// the header has shown that it says what the central directory says.
Failure Unpacker::openData(const ZipEntry& entry) {
    std::array<std::uint8_t, kLocalHeaderSize> fixed{};
    if (!reader_.skipTo(entry.start) || !reader_.read(fixed)) {
        return readFailure();
    }
    const std::optional<LocalHeader> header = readLocalHeader(fixed);
    if (!header) {
        return badPackage();
    }
    std::string name(header->nameLength, '\0');
    if (!reader_.read({reinterpret_cast<std::uint8_t*>(name.data()), name.size()})) {
        return readFailure();
    }
    const std::uint64_t dataStart = reader_.position() + header->extraLength;
    if (!localHeaderAgrees(*header, name, entry) || dataStart + entry.compressedSize > entry.end) {
        return badPackage();
    }
    return reader_.skipTo(dataStart) ? Failure{} : readFailure();
}

// Creates the folders of a relative path that are not there yet. Entries
// come sorted, so most files go into the folder of the file before them.
Failure Unpacker::createFolders(std::wstring_view relative) {
    if (relative.empty() || relative == lastFolder_) {
        return {};
    }
    for (size_t end = relative.find(L'\\');; end = relative.find(L'\\', end + 1)) {
        const std::wstring folder = destination_ + L'\\' + std::wstring(relative.substr(0, end));
        if (!createFolder(folder.c_str()) && GetLastError() != ERROR_ALREADY_EXISTS) {
            return diskFailure();
        }
        if (end == std::wstring_view::npos) {
            break;
        }
    }
    lastFolder_ = relative;
    return {};
}

Failure Unpacker::copyData(HANDLE file, const std::wstring& path, const ZipEntry& entry) {
    if (decoder_.begin(entry) != DecodeStatus::Ok) {
        return failedWith(FailureKind::System, ERROR_NOT_ENOUGH_MEMORY);
    }
    DWORD writeError = 0;
    const DecodedPieceWriter write = [file, &path, &writeError](std::span<const std::uint8_t> piece) {
        if (writeToFile(file, path.c_str(), piece.data(), static_cast<DWORD>(piece.size()))) {
            return true;
        }
        writeError = GetLastError() != 0 ? GetLastError() : ERROR_HANDLE_DISK_FULL;
        return false;
    };
    for (std::uint64_t left = entry.compressedSize; left > 0;) {
        const auto input = reader_.next(static_cast<size_t>(std::min<std::uint64_t>(left, kBufferSize)));
        if (input.empty()) {
            return readFailure();
        }
        switch (decoder_.decode(input, write)) {
            case DecodeStatus::Ok: break;
            case DecodeStatus::Damaged: return badPackage();
            case DecodeStatus::OutOfMemory: return failedWith(FailureKind::System, ERROR_NOT_ENOUGH_MEMORY);
            case DecodeStatus::Stopped: return failedWith(FailureKind::Disk, writeError);
        }
        left -= input.size();
        reportProgress();
    }
    return decoder_.finish() == DecodeStatus::Ok ? Failure{} : badPackage();
}

Failure Unpacker::writeFile(const std::wstring& path, const ZipEntry& entry) {
    // CREATE_NEW: a file already there means that two entries name one file
    // in a way the name rules did not foresee (an 8.3 short name, say).
    const OwnedFileHandle file = openFile(path.c_str(), GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (!file) {
        return GetLastError() == ERROR_FILE_EXISTS ? badPackage() : diskFailure();
    }
    if (const Failure failure = copyData(file.get(), path, entry)) {
        return failure;
    }
    if (!keepModifiedTime(file.get(), entry) ||
        (flush_ == FileFlush::Flushed && !flushToDisk(file.get(), path.c_str()))) {
        return diskFailure();
    }
    return {};
}

Failure Unpacker::unpack(const ZipEntry& entry, const EntryPath& path) {
    if (const Failure failure = openData(entry)) {
        return failure;
    }
    if (path.directory) {
        return createFolders(path.path);
    }
    const size_t separator = path.path.rfind(L'\\');
    const std::wstring_view folder(path.path.data(), separator == std::wstring::npos ? 0 : separator);
    if (const Failure failure = createFolders(folder)) {
        return failure;
    }
    return writeFile(destination_ + L'\\' + path.path, entry);
}

Failure Unpacker::unpackAll(const std::vector<ZipEntry>& entries, const std::vector<EntryPath>& paths) {
    reportProgress();
    for (size_t i = 0; i < entries.size(); ++i) {
        if (const Failure failure = unpack(entries[i], paths[i])) {
            return failure;
        }
        reportProgress();
        // Half-way: the test build can end itself or wait here.
        if (i == (entries.size() - 1) / 2) {
            crashPointReached(CrashStep::Extracting);
            pauseUnpackingForTests();
        }
    }
    return {};
}

}  // namespace

Failure unpackPackage(const wchar_t* packagePath, const wchar_t* destination, FileFlush flush,
                      const UnpackProgress& progress) {
    const OwnedFileHandle package =
        openFile(packagePath, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    if (!package) {
        return diskFailure();
    }
    std::optional<ZipDirectory> directory;
    if (const Failure failure = readDirectory(package.get(), directory)) {
        return failure;
    }
    const EntryPaths paths = entryPaths(directory->entries);
    if (!entriesAccepted(*directory, paths, destination)) {
        return badPackage();
    }
    if (!createFolder(destination) || !seek(package.get(), 0)) {
        return diskFailure();
    }
    return Unpacker(package.get(), destination, flush, directory->directoryStart, progress)
        .unpackAll(directory->entries, paths.paths);
}
