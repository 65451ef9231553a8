#pragma once

#include <string>

// The directory the application is started in: the path up to its last
// separator of either kind; empty (inherit ours) without one, or when the
// only separator is the first character.
std::wstring applicationWorkingDirectory(const std::wstring& executablePath);

// The quoted path and one space, then the arguments, neither escaped.
std::wstring applicationCommandLine(const std::wstring& executablePath, const std::wstring& arguments);
