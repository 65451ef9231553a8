#include "archive/entry_name.h"

#include <windows.h>

#include <algorithm>
#include <unordered_map>

namespace {

constexpr std::uint16_t kUtf8NameFlag = 0x0800;

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

// The name without its "." folders, and with the final "/" of a folder: a
// folder entry made only of them ("./") becomes empty, the staging folder.
// A "." that is a file's own name stays, for the rules to refuse.
std::wstring withoutDotFolders(std::wstring_view name) {
    const bool folder = !name.empty() && name.back() == L'/';
    const std::wstring_view path = folder ? name.substr(0, name.size() - 1) : name;
    std::wstring kept;
    bool first = true;
    for (size_t begin = 0;;) {
        const size_t end = std::min(path.find(L'/', begin), path.size());
        const std::wstring_view component = path.substr(begin, end - begin);
        if (component != L"." || (end == path.size() && !folder)) {
            kept += first ? L"" : L"/";
            kept += component;
            first = false;
        }
        if (end == path.size()) {
            break;
        }
        begin = end + 1;
    }
    return folder && !first ? kept + L"/" : kept;
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

EntryNameText entryNameText(const ZipEntry& entry) {
    const bool flagged = (entry.flags & kUtf8NameFlag) != 0;
    const std::string_view bytes = !flagged && entry.unicodePath ? *entry.unicodePath : std::string_view(entry.name);
    if (!flagged && !entry.unicodePath &&
        std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) > 0x7F; })) {
        return {NameProblem::Unflagged, {}};
    }
    if (bytes.empty()) {
        return {};
    }
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                           nullptr, 0);
    if (length <= 0) {
        return {NameProblem::Undecodable, {}};
    }
    std::wstring name(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), name.data(), length);
    return {NameProblem::None, std::move(name)};
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
    const std::wstring plain = withoutDotFolders(name);
    if (plain.empty()) {
        return NameProblem::None;  // "./": the staging folder itself
    }
    const std::wstring_view path = withoutFolderMark(plain);
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
    std::vector<std::wstring> plain;
    plain.reserve(names.size());
    for (const std::wstring& name : names) {
        if (const NameProblem problem = entryNameProblem(name); problem != NameProblem::None) {
            return problem;
        }
        plain.push_back(withoutDotFolders(name));
    }
    return namesCollide(plain) ? NameProblem::Collision : NameProblem::None;
}

EntryPaths entryPaths(const std::vector<ZipEntry>& entries) {
    std::vector<std::wstring> names;
    names.reserve(entries.size());
    for (const ZipEntry& entry : entries) {
        EntryNameText text = entryNameText(entry);
        if (text.problem != NameProblem::None) {
            return {text.problem, {}};
        }
        names.push_back(std::move(text.name));
    }
    if (const NameProblem problem = entryNamesProblem(names); problem != NameProblem::None) {
        return {problem, {}};
    }
    EntryPaths result;
    result.paths.reserve(names.size());
    for (const std::wstring& name : names) {
        const std::wstring plain = withoutDotFolders(name);
        const std::wstring_view path = withoutFolderMark(plain);
        EntryPath entryPath{std::wstring(path), path.size() != plain.size() || plain.empty()};
        std::replace(entryPath.path.begin(), entryPath.path.end(), L'/', L'\\');
        result.paths.push_back(std::move(entryPath));
    }
    return result;
}
