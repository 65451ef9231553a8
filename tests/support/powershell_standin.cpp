// Stands in for Windows PowerShell in the test Wine prefix. It understands
// only the one command the updater gives it:
//   Expand-Archive -Force '<archive>' '<destination>'
// and extracts the zip archive (stored and deflated entries, CRC-checked).
// Exit code 0 when every entry was extracted and verified, 1 otherwise.
// NIRVA_POWERSHELL_RECORD names a file that gets a JSON line per start;
// NIRVA_POWERSHELL_DELAY_MS delays the extraction so tests can act meanwhile.
#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "record.h"

#include "common/owned_handles.h"

namespace {

constexpr std::wstring_view kCommandStart = L"Expand-Archive -Force '";
constexpr std::wstring_view kPathSeparator = L"' '";
constexpr size_t kChunkSize = 64 * 1024;

struct ExpandCommand {
    std::wstring archive;
    std::wstring destination;
};

// The paths end at the next quote, as with PowerShell's single-quoted strings
// (which the updater never escapes); the command text must end after them.
std::optional<ExpandCommand> parseCommand(std::wstring_view commandLine) {
    const size_t start = commandLine.find(kCommandStart);
    if (start == std::wstring_view::npos) return std::nullopt;
    std::wstring_view rest = commandLine.substr(start + kCommandStart.size());
    const size_t archiveEnd = rest.find(kPathSeparator);
    if (archiveEnd == std::wstring_view::npos || archiveEnd == 0) return std::nullopt;
    ExpandCommand command{std::wstring(rest.substr(0, archiveEnd)), {}};
    rest = rest.substr(archiveEnd + kPathSeparator.size());
    const size_t destinationEnd = rest.find(L'\'');
    if (destinationEnd == std::wstring_view::npos || destinationEnd == 0) return std::nullopt;
    command.destination = rest.substr(0, destinationEnd);
    rest = rest.substr(destinationEnd + 1);
    while (!rest.empty() && rest.back() == L' ') rest.remove_suffix(1);
    if (rest != L"\"" || command.archive.find(L'\'') != std::wstring::npos) return std::nullopt;
    return command;
}

std::optional<std::vector<unsigned char>> readWholeFile(const std::wstring& path) {
    const OwnedFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > 0xFFFFFFFFLL) return std::nullopt;
    std::vector<unsigned char> content(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!content.empty() &&
        (!ReadFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &read, nullptr) ||
         read != content.size()))
        return std::nullopt;
    return content;
}

uint32_t readLittleEndian(const std::vector<unsigned char>& data, size_t offset, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | data[offset + static_cast<size_t>(i)];
    return value;
}

struct Entry {
    std::vector<std::wstring> components;
    bool directory = false;
    uint16_t method = 0;
    uint32_t crc = 0;
    size_t dataOffset = 0;
    size_t compressedSize = 0;
    size_t uncompressedSize = 0;
};

constexpr uint32_t kEndOfDirectorySignature = 0x06054b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kDirectoryEntrySignature = 0x02014b50;
constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr size_t kEndOfDirectorySize = 22;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kDirectoryEntrySize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagUtf8 = 0x0800;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

// Splits an entry name into path components, refusing anything that could
// land outside the destination: absolute paths, drives, streams and "..".
std::optional<Entry> splitName(std::string_view raw, bool utf8) {
    if (raw.empty()) return std::nullopt;
    const UINT codePage = utf8 ? CP_UTF8 : 437;
    const DWORD flags = utf8 ? MB_ERR_INVALID_CHARS : 0;
    const int length = MultiByteToWideChar(codePage, flags, raw.data(), static_cast<int>(raw.size()), nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring name(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, flags, raw.data(), static_cast<int>(raw.size()), name.data(), length);
    for (wchar_t& c : name) {
        if (c == L'\\') c = L'/';
    }
    if (name.front() == L'/' || name.find(L':') != std::wstring::npos || name.find(L'\0') != std::wstring::npos)
        return std::nullopt;
    Entry entry;
    entry.directory = name.back() == L'/';
    size_t begin = 0;
    while (begin <= name.size()) {
        const size_t end = std::min(name.find(L'/', begin), name.size());
        const std::wstring component = name.substr(begin, end - begin);
        if (component == L"..") return std::nullopt;
        if (!component.empty() && component != L".") entry.components.push_back(component);
        begin = end + 1;
    }
    if (entry.components.empty() && !entry.directory) return std::nullopt;
    return entry;
}

// Reads the central directory and checks every entry before anything is written.
std::optional<std::vector<Entry>> readDirectory(const std::vector<unsigned char>& zip) {
    if (zip.size() < kEndOfDirectorySize) return std::nullopt;
    size_t end = zip.size() - kEndOfDirectorySize;
    const size_t lowest = zip.size() > kEndOfDirectorySize + 0xFFFF ? zip.size() - kEndOfDirectorySize - 0xFFFF : 0;
    while (readLittleEndian(zip, end, 4) != kEndOfDirectorySignature ||
           end + kEndOfDirectorySize + readLittleEndian(zip, end + 20, 2) != zip.size()) {
        if (end == lowest) return std::nullopt;
        --end;
    }
    if (end >= kZip64LocatorSize && readLittleEndian(zip, end - kZip64LocatorSize, 4) == kZip64LocatorSignature)
        return std::nullopt;
    const uint32_t thisDisk = readLittleEndian(zip, end + 4, 2);
    const uint32_t directoryDisk = readLittleEndian(zip, end + 6, 2);
    const uint32_t entriesHere = readLittleEndian(zip, end + 8, 2);
    const uint32_t entryCount = readLittleEndian(zip, end + 10, 2);
    const size_t directorySize = readLittleEndian(zip, end + 12, 4);
    size_t offset = readLittleEndian(zip, end + 16, 4);
    if (thisDisk != 0 || directoryDisk != 0 || entriesHere != entryCount || offset + directorySize > end)
        return std::nullopt;

    std::vector<Entry> entries;
    for (uint32_t i = 0; i < entryCount; ++i) {
        if (offset + kDirectoryEntrySize > end || readLittleEndian(zip, offset, 4) != kDirectoryEntrySignature)
            return std::nullopt;
        const auto flags = static_cast<uint16_t>(readLittleEndian(zip, offset + 8, 2));
        const auto method = static_cast<uint16_t>(readLittleEndian(zip, offset + 10, 2));
        const uint32_t compressedSize = readLittleEndian(zip, offset + 20, 4);
        const uint32_t uncompressedSize = readLittleEndian(zip, offset + 24, 4);
        const size_t nameLength = readLittleEndian(zip, offset + 28, 2);
        const size_t extraLength = readLittleEndian(zip, offset + 30, 2);
        const size_t commentLength = readLittleEndian(zip, offset + 32, 2);
        const size_t localOffset = readLittleEndian(zip, offset + 42, 4);
        const size_t next = offset + kDirectoryEntrySize + nameLength + extraLength + commentLength;
        if (next > end || (flags & kFlagEncrypted) || (method != kMethodStored && method != kMethodDeflated) ||
            compressedSize == 0xFFFFFFFF || uncompressedSize == 0xFFFFFFFF || localOffset == 0xFFFFFFFF)
            return std::nullopt;
        const std::string_view rawName(reinterpret_cast<const char*>(zip.data()) + offset + kDirectoryEntrySize,
                                       nameLength);
        auto entry = splitName(rawName, (flags & kFlagUtf8) != 0);
        if (!entry || localOffset + kLocalHeaderSize > zip.size() ||
            readLittleEndian(zip, localOffset, 4) != kLocalHeaderSignature)
            return std::nullopt;
        entry->method = method;
        entry->crc = readLittleEndian(zip, offset + 16, 4);
        entry->compressedSize = compressedSize;
        entry->uncompressedSize = uncompressedSize;
        entry->dataOffset = localOffset + kLocalHeaderSize + readLittleEndian(zip, localOffset + 26, 2) +
                            readLittleEndian(zip, localOffset + 28, 2);
        if (entry->dataOffset + entry->compressedSize > zip.size() ||
            (method == kMethodStored && compressedSize != uncompressedSize))
            return std::nullopt;
        entries.push_back(std::move(*entry));
        offset = next;
    }
    return entries;
}

bool createDirectory(const std::wstring& path) {
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// Intermediate components may exist already or be a drive; only the full path counts.
bool createDirectories(const std::wstring& path) {
    for (size_t separator = path.find_first_of(L"\\/", 1); separator != std::wstring::npos;
         separator = path.find_first_of(L"\\/", separator + 1))
        createDirectory(path.substr(0, separator));
    return createDirectory(path);
}

bool writeAll(HANDLE file, const unsigned char* data, size_t size) {
    DWORD written = 0;
    return WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

// Streams the entry's data into the file, checking its length and CRC-32.
bool extractData(const std::vector<unsigned char>& zip, const Entry& entry, HANDLE file) {
    const unsigned char* input = zip.data() + entry.dataOffset;
    uLong crc = crc32(0, nullptr, 0);
    if (entry.method == kMethodStored) {
        crc = crc32(crc, input, static_cast<uInt>(entry.compressedSize));
        return crc == entry.crc && writeAll(file, input, entry.compressedSize);
    }
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) return false;
    support::ScopeExit endStream{[&] { inflateEnd(&stream); }};
    stream.next_in = const_cast<Bytef*>(input);
    stream.avail_in = static_cast<uInt>(entry.compressedSize);
    std::vector<unsigned char> buffer(kChunkSize);
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = buffer.data();
        stream.avail_out = static_cast<uInt>(buffer.size());
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) return false;
        const size_t produced = buffer.size() - stream.avail_out;
        crc = crc32(crc, buffer.data(), static_cast<uInt>(produced));
        if (!writeAll(file, buffer.data(), produced)) return false;
    }
    return stream.total_out == entry.uncompressedSize && crc == entry.crc;
}

bool extractEntry(const std::vector<unsigned char>& zip, const Entry& entry, const std::wstring& destination) {
    std::wstring path = destination;
    const size_t directoryDepth = entry.directory ? entry.components.size() : entry.components.size() - 1;
    for (size_t i = 0; i < directoryDepth; ++i) {
        path += L'\\' + entry.components[i];
        if (!createDirectory(path)) return false;
    }
    if (entry.directory) return true;
    path += L'\\' + entry.components.back();
    const OwnedFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    return extractData(zip, entry, file.get());
}

int expandArchive(const ExpandCommand& command) {
    const auto zip = readWholeFile(command.archive);
    if (!zip) return 1;
    const auto entries = readDirectory(*zip);
    if (!entries || !createDirectories(command.destination)) return 1;
    for (const Entry& entry : *entries) {
        if (!extractEntry(*zip, entry, command.destination)) return 1;
    }
    return 0;
}

}  // namespace

int wmain() {
    support::appendRecord(L"NIRVA_POWERSHELL_RECORD",
                          support::JsonObject().text("event", L"powershell").processFields().finish());
    const auto command = parseCommand(GetCommandLineW());
    if (!command) return 1;
    if (const auto delay = support::environmentValue(L"NIRVA_POWERSHELL_DELAY_MS"))
        Sleep(static_cast<DWORD>(std::wcstoul(delay->c_str(), nullptr, 10)));
    return expandArchive(*command);
}
