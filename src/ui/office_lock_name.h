#pragma once

#include <string>

// The name of the office folder's lock, the same for every spelling of the
// folder's full path that Windows takes for the same folder: a digest of the
// path in capitals, since a kernel object name cannot hold a backslash
// beyond its namespace. In the global namespace, so that users of other
// sessions working in the same folder see it too.
std::wstring officeLockName(const std::wstring& officeFolder);
