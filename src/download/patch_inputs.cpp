#include "download/patch_inputs.h"

#include "archive/entry_decoder.h"
#include "archive/local_header.h"
#include "net/connection.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::uint64_t kPieceBytes = 256 * 1024;

bool readAt(HANDLE file, std::uint64_t offset, std::span<std::uint8_t> bytes) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    return ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, &at) && read == bytes.size();
}

// Where the entry's data starts, once its local header agrees with the
// central directory; 0 when it does not.
std::uint64_t dataStart(HANDLE package, const ZipEntry& entry) {
    std::array<std::uint8_t, kLocalHeaderSize> fixed{};
    const std::optional<LocalHeader> header =
        readAt(package, entry.start, fixed) ? readLocalHeader(fixed) : std::nullopt;
    if (!header) {
        return 0;
    }
    std::vector<std::uint8_t> whole(kLocalHeaderSize + header->nameLength + header->extraLength);
    std::copy(fixed.begin(), fixed.end(), whole.begin());
    const std::uint64_t start = entry.start + whole.size();
    const bool agrees = readAt(package, entry.start + kLocalHeaderSize, std::span(whole).subspan(kLocalHeaderSize)) &&
                        localHeaderDescribes(whole, entry);
    return agrees && start + entry.compressedSize <= entry.end ? start : 0;
}

}  // namespace

bool readEntryContent(HANDLE package, const ZipEntry& entry, std::vector<std::uint8_t>& content) {
    const std::uint64_t start = dataStart(package, entry);
    std::vector<std::uint8_t> input(kPieceBytes);
    std::vector<std::uint8_t> output(kPieceBytes);
    EntryDecoder decoder(output);
    if (start == 0 || !canDecode(entry) || decoder.begin(entry) != DecodeStatus::Ok) {
        return false;
    }
    content.clear();
    content.reserve(entry.uncompressedSize);
    const DecodedPieceWriter append = [&content](std::span<const std::uint8_t> piece) {
        content.insert(content.end(), piece.begin(), piece.end());
        return true;
    };
    for (std::uint64_t done = 0; done < entry.compressedSize;) {
        const std::span<std::uint8_t> piece =
            std::span(input).first(std::min(entry.compressedSize - done, kPieceBytes));
        if (!readAt(package, start + done, piece) || decoder.decode(piece, append) != DecodeStatus::Ok) {
            return false;
        }
        done += piece.size();
    }
    return decoder.finish() == DecodeStatus::Ok;
}

bool fetchPatch(const std::wstring& path, const NetworkRoute& route, std::uint64_t limit,
                std::vector<std::uint8_t>& patch, RequestLogLine& line) {
    PinnedExchange exchange;
    const Failure failure = sendPinnedRequest(path, route, FailureStep::Download, exchange);
    line.error = failure.systemError;
    if (failure) {
        return false;
    }
    const HINTERNET request = exchange.request.get();
    const DWORD length = queryNumericHeader(request, WINHTTP_QUERY_CONTENT_LENGTH);
    line.status = queryNumericHeader(request, WINHTTP_QUERY_STATUS_CODE);
    if (line.status != HTTP_STATUS_OK || length == 0 || length >= limit) {
        return false;
    }
    patch.resize(length);
    for (std::uint64_t done = 0; done < length;) {
        DWORD read = 0;
        const auto most = static_cast<DWORD>(std::min<std::uint64_t>(length - done, kPieceBytes));
        if (!WinHttpReadData(request, patch.data() + done, most, &read) || read == 0) {
            line.error = GetLastError();
            return false;
        }
        done += read;
        line.bytes += read;
    }
    return true;
}
