#include "archive/entry_name.h"

#include <windows.h>

#include <algorithm>
#include <unordered_map>

namespace {

constexpr std::uint16_t kUtf8NameFlag = 0x0800;
constexpr UINT kZipDefaultCodePage = 437;

// Windows opens these as devices whatever folder and extension they come
// with; COM and LPT take a digit, and Windows also reads the superscript
// digits one to three as digits.
constexpr std::wstring_view kDeviceNames[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
constexpr std::wstring_view kPortNames[] = {L"COM", L"LPT"};
constexpr std::wstring_view kPortDigits = L"123456789\u00B9\u00B2\u00B3";
constexpr std::wstring_view kRefusedCharacters = L"<>\"|?*";

bool equalsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return (x >= L'a' && x <= L'z' ? x - 32 : x) == (y >= L'a' && y <= L'z' ? y - 32 : y);
           });
}

// "nul.txt" and "nul .txt" are the device as much as "nul" is.
bool isDeviceName(std::wstring_view component) {
    std::wstring_view base = component.substr(0, component.find(L'.'));
    while (!base.empty() && base.back() == L' ') {
        base.remove_suffix(1);
    }
    const auto matches = [base](std::wstring_view device) { return equalsIgnoringAsciiCase(base, device); };
    if (std::any_of(std::begin(kDeviceNames), std::end(kDeviceNames), matches)) {
        return true;
    }
    return base.size() == 4 && kPortDigits.find(base[3]) != std::wstring_view::npos &&
           std::any_of(std::begin(kPortNames), std::end(kPortNames),
                       [base](std::wstring_view port) { return equalsIgnoringAsciiCase(base.substr(0, 3), port); });
}

bool isAsciiLetter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

NameProblem componentProblem(std::wstring_view component, bool first) {
    if (component.empty()) {
        return NameProblem::Empty;
    }
    if (component == L"." || component == L"..") {
        return component.size() == 1 ? NameProblem::DotFolder : NameProblem::Parent;
    }
    if (first && component.size() >= 2 && isAsciiLetter(component[0]) && component[1] == L':') {
        return NameProblem::Drive;
    }
    if (component.find(L':') != std::wstring_view::npos) {
        return NameProblem::Stream;
    }
    if (std::any_of(component.begin(), component.end(), [](wchar_t c) { return c < 0x20; })) {
        return NameProblem::Control;
    }
    if (component.find_first_of(kRefusedCharacters) != std::wstring_view::npos) {
        return NameProblem::Character;
    }
    if (component.back() == L'.' || component.back() == L' ') {
        return NameProblem::TrailingDotOrSpace;
    }
    return isDeviceName(component) ? NameProblem::Device : NameProblem::None;
}

// The name without the final "/" that marks a folder.
std::wstring_view withoutFolderMark(std::wstring_view name) {
    return !name.empty() && name.back() == L'/' ? name.substr(0, name.size() - 1) : name;
}

// The key under which Windows finds a name: each UTF-16 unit upper-cased
// with the system's table, as the file system does, never a language's rules.
std::optional<std::wstring> caseFolded(std::wstring_view name) {
    std::wstring folded(name.size(), L'\0');
    if (!name.empty() && LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name.data(),
                                       static_cast<int>(name.size()), folded.data(), static_cast<int>(folded.size()),
                                       nullptr, nullptr, 0) != static_cast<int>(name.size())) {
        return std::nullopt;
    }
    return folded;
}

// What one folded path has been seen as first.
struct SeenPath {
    std::wstring_view spelling;
    bool directory = false;
};

// True when the path is new, or was seen before as the same folder under
// the same spelling (a folder's own entry and the folders of its files).
bool noteWithoutCollision(std::unordered_map<std::wstring, SeenPath>& seen, std::wstring_view path, bool directory) {
    const std::optional<std::wstring> key = caseFolded(path);
    if (!key) {
        return false;
    }
    const auto [place, added] = seen.try_emplace(*key, SeenPath{path, directory});
    return added || (place->second.spelling == path && place->second.directory && directory);
}

bool namesCollide(const std::vector<std::wstring>& names) {
    std::unordered_map<std::wstring, SeenPath> seen;
    for (const std::wstring& name : names) {
        const std::wstring_view path = withoutFolderMark(name);
        for (size_t slash = path.find(L'/'); slash != std::wstring_view::npos; slash = path.find(L'/', slash + 1)) {
            if (!noteWithoutCollision(seen, path.substr(0, slash), true)) {
                return true;
            }
        }
        if (!noteWithoutCollision(seen, path, path.size() != name.size())) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<std::wstring> decodeEntryName(std::string_view bytes, bool utf8) {
    if (bytes.empty()) {
        return std::wstring();
    }
    const UINT codePage = utf8 ? CP_UTF8 : kZipDefaultCodePage;
    const DWORD flags = utf8 ? MB_ERR_INVALID_CHARS : 0;
    const int length = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0) {
        return std::nullopt;
    }
    std::wstring name(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), name.data(), length);
    return name;
}

NameProblem entryNameProblem(std::wstring_view name) {
    if (name.empty()) {
        return NameProblem::Empty;
    }
    if (name.front() == L'/') {
        return NameProblem::Absolute;
    }
    if (name.find(L'\\') != std::wstring_view::npos) {
        return NameProblem::Backslash;
    }
    const std::wstring_view path = withoutFolderMark(name);
    for (size_t begin = 0;;) {
        const size_t end = std::min(path.find(L'/', begin), path.size());
        const NameProblem problem = componentProblem(path.substr(begin, end - begin), begin == 0);
        if (problem != NameProblem::None || end == path.size()) {
            return problem;
        }
        begin = end + 1;
    }
}

NameProblem entryNamesProblem(const std::vector<std::wstring>& names) {
    for (const std::wstring& name : names) {
        if (const NameProblem problem = entryNameProblem(name); problem != NameProblem::None) {
            return problem;
        }
    }
    return namesCollide(names) ? NameProblem::Collision : NameProblem::None;
}

EntryPaths entryPaths(const std::vector<ZipEntry>& entries) {
    std::vector<std::wstring> names;
    names.reserve(entries.size());
    for (const ZipEntry& entry : entries) {
        std::optional<std::wstring> name = decodeEntryName(entry.name, (entry.flags & kUtf8NameFlag) != 0);
        if (!name) {
            return {NameProblem::Undecodable, {}};
        }
        names.push_back(std::move(*name));
    }
    if (const NameProblem problem = entryNamesProblem(names); problem != NameProblem::None) {
        return {problem, {}};
    }
    EntryPaths result;
    result.paths.reserve(names.size());
    for (const std::wstring& name : names) {
        const std::wstring_view path = withoutFolderMark(name);
        EntryPath entryPath{std::wstring(path), path.size() != name.size()};
        std::replace(entryPath.path.begin(), entryPath.path.end(), L'/', L'\\');
        result.paths.push_back(std::move(entryPath));
    }
    return result;
}
