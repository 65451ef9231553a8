#pragma once

#include <string>

// Starts the application as an independent process and returns at once.
bool launchApplication(const std::wstring& executablePath, const std::wstring& arguments);
