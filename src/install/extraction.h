#pragma once

// Unpacks the package in the updater's own process. Every entry is checked
// before anything is written (its name, its method, no encryption), then
// each is read front to back through fixed buffers, so that memory stays
// the same whatever the package's size, and written through one handle:
// inflated, checked against its size and CRC-32, given the entry's time and
// flushed to the disk before the handle is closed. NTFS journals the later
// rename of the folder but not the files' contents: without the flush a
// power cut soon after the swap could leave a zero-filled application.

#include "common/failure.h"

#include <functional>

// Told the share of the package unpacked so far, in percent, each time it grows.
using UnpackProgress = std::function<void(int percent)>;

// Only a measurement switches the flush off, to tell what it costs.
enum class FileFlush { Flushed, NotFlushed };

// Unpacks the package into the destination folder, which must not exist
// yet. On failure the step is Unpack and the kind BadPackage (the archive is
// refused: its names, methods, sizes, CRC-32 or headers), Disk (a read or a
// write failed, with Windows's error) or System; what was written so far is
// left for the caller to remove.
Failure unpackPackage(const wchar_t* packagePath, const wchar_t* destination, FileFlush flush,
                      const UnpackProgress& progress);
