#include "install/extraction.h"

namespace {

constexpr wchar_t kExpandCommandPrefix[] =
    L"powershell -NoLogo -NoProfile -ExecutionPolicy Bypass -Command \"Expand-Archive -Force '";
constexpr wchar_t kExpandCommandSeparator[] = L"' '";
constexpr wchar_t kExpandCommandSuffix[] = L"'\"";

}  // namespace

std::wstring extractionCommandLine(const std::wstring& archivePath, const std::wstring& destinationPath) {
    return kExpandCommandPrefix + archivePath + kExpandCommandSeparator + destinationPath +
           kExpandCommandSuffix;
}
