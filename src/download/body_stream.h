#pragma once

#include "common/failure.h"
#include "download/partial_file.h"
#include "download/progress.h"

#include <windows.h>
#include <winhttp.h>

// Appends the response body to the partial file and reports the progress
// after every piece written. The network is read on the calling thread while
// a second thread writes and hashes the piece before, so that neither the
// disk nor the digest holds up the connection. No failure when the body
// ended without a failed read or write; whether it was whole is the caller's
// question. A write refused by the file's bounds fails as writeToPartial says.
Failure streamBody(HINTERNET request, PartialFile& partial, const ProgressSink& reportProgress);
