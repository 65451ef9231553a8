#pragma once

// What an entry rebuilt from a patch needs besides the applier: the old
// entry's content, from the previous package on the disk, and the patch,
// from the server. Either one in doubt means the entry comes by range.

#include "archive/zip_directory.h"
#include "common/support_log.h"
#include "net/network_route.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The entry's content, inflated from the package once its local header has
// shown that it says what the central directory says, and checked against
// the entry's size and CRC-32. Memory: the content and fixed buffers.
bool readEntryContent(HANDLE package, const ZipEntry& entry, std::vector<std::uint8_t>& content);

// The patch at the path on the pinned server (along the route), when the answer is 200 with a
// Content-Length under `limit` and the whole body arrives. The request's log
// line gets the status, the body bytes that came (whatever the end) and the
// error.
bool fetchPatch(const std::wstring& path, const NetworkRoute& route, std::uint64_t limit,
                std::vector<std::uint8_t>& patch, RequestLogLine& line);
