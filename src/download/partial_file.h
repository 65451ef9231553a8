#pragma once

#include "common/failure.h"
#include "common/owned_handles.h"
#include "common/sha256.h"
#include "download/bounds.h"
#include "download/resume.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The package while it downloads: the bytes received so far, and beside them
// the record of what they are. Only a complete file (verified, when a digest
// is expected) is renamed to the package's name.
struct PartialFile {
    std::wstring path;
    std::wstring recordPath;
    OwnedFileHandle file;
    PartialRecord record;
    // Bytes the file holds; the hash, when a digest is expected, has seen
    // exactly these.
    std::uint64_t kept = 0;
    std::uint64_t unflushed = 0;
    Sha256Hasher hasher;
    // Complete and verified, waiting only to be renamed.
    bool verified = false;
    // What the file may hold and the disk must keep free; set before it is
    // first opened.
    DownloadBounds bounds;
    // The free space was found enough for the file to grow to this length.
    std::uint64_t roomUntil = 0;
    // Where the disk's free space is asked for again: other programs write to
    // the disk too, however much room was found for the whole file.
    std::uint64_t nextSpaceCheck = 0;
};

// Opens the partial download of this release. Bytes an earlier attempt or
// run left are kept (and hashed again) only when the record vouches for
// them and names a length the bounds allow, also all of them when a digest
// can check them; anything else is discarded.
Failure openPartial(PartialFile& partial, const std::wstring& packagePath, const std::wstring& url,
                    const std::optional<Sha256Digest>& digest);

// Empties the file for an answer that starts at its first byte, and records
// what that answer says of the whole. False, with nothing changed, for a
// whole length the bounds do not allow.
bool restartPartial(PartialFile& partial, const PartialRecord& record);

// Fails, with kDiskFullError and nothing written, unless the disk can take
// the file up to this length and keep its floor free. When the free space
// cannot be read, nothing stops the download: the ceiling still bounds it.
Failure reserveRoom(PartialFile& partial, std::uint64_t length);

// Writes and hashes the bytes, and flushes the file every 4 MiB so that a
// power cut loses little. A failed write is cut off again, so that the file
// still holds exactly the kept bytes. Nothing is written past the file's
// limit (a bad answer when a length was named, else too large) or into the
// disk's floor (asked for again every few MiB).
Failure writeToPartial(PartialFile& partial, const unsigned char* bytes, DWORD count);

// Reads bytes the file keeps, and leaves it where the next bytes go (or,
// should that fail, discards it).
bool readPartial(PartialFile& partial, std::uint64_t offset, std::span<std::uint8_t> bytes);

// Cuts the file back to its first `length` bytes (no more than it keeps)
// and hashes them again: bytes that turned out wrong after they were
// written go, and the file goes on from there. When that fails the file is
// discarded, and false returned.
bool cutPartialBack(PartialFile& partial, std::uint64_t length);

// A failed attempt keeps what it received, on the disk. False, with
// Windows's error, when the file could not be flushed.
bool flushPartial(PartialFile& partial);

// The file holds the whole package its record names, which an earlier run
// could not give the package's name (a refused rename, a power cut): it only
// waits for the check against the digest.
bool isWhole(const PartialFile& partial);

// Drops the kept bytes and the record; the next request asks for the whole.
void discardPartial(PartialFile& partial);

// Closes and deletes the file and its record.
void dropPartial(PartialFile& partial);

// The digest, when one is expected, covers the whole file; a mismatch
// discards it. Then the file, flushed to the disk, becomes the package,
// replacing an earlier one (read-only or not); a failed flush or rename
// keeps it whole and checked for the next attempt.
Failure finishPartial(PartialFile& partial, const std::optional<Sha256Digest>& digest,
                      const std::wstring& packagePath);

// For a start that offers nothing to download: no partial file outlives the
// release it was for.
void removePartialDownload(const std::wstring& packagePath);
