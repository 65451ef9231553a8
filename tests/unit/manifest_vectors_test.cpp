// Runs every shared manifest vector through the updater's reader; the release
// tool's reader runs the same vectors, so the two cannot drift apart.
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "net/manifest.h"

#ifndef NIRVA_MANIFEST_VECTOR_DIR
#error "NIRVA_MANIFEST_VECTOR_DIR must be the vector directory as a wide string literal"
#endif

namespace {

std::string readBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The same conversion the updater applies to a response body.
std::wstring fromUtf8(const std::string& bytes) {
    if (bytes.empty()) {
        return {};
    }
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), size, nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), size, text.data(), length);
    return text;
}

// An .expected file: seven "key=value" lines, LF-terminated, in record order.
bool parseExpected(const std::wstring& text, ManifestRecord& record) {
    const wchar_t* const keys[] = {L"version", L"url", L"sha256", L"notes",
                                   L"releaseDate", L"uploadDate", L"mandatory"};
    std::wstring* const texts[] = {&record.version, &record.url, &record.sha256, &record.notes,
                                   &record.releaseDate, &record.uploadDate};
    size_t position = 0;
    for (size_t index = 0; index < std::size(keys); ++index) {
        const std::wstring prefix = std::wstring(keys[index]) + L"=";
        const size_t lineEnd = text.find(L'\n', position);
        if (lineEnd == std::wstring::npos || text.compare(position, prefix.size(), prefix) != 0) {
            return false;
        }
        const std::wstring value = text.substr(position + prefix.size(), lineEnd - position - prefix.size());
        if (index < std::size(texts)) {
            *texts[index] = value;
        } else if (value == L"true" || value == L"false") {
            record.mandatory = value == L"true";
        } else {
            return false;
        }
        position = lineEnd + 1;
    }
    return position == text.size();
}

TEST(ManifestVectors, ReaderGivesEveryVectorsExpectedRecord) {
    const std::filesystem::path directory{NIRVA_MANIFEST_VECTOR_DIR};
    std::error_code error;
    std::vector<std::filesystem::path> vectors;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        if (entry.path().extension() == L".json") {
            vectors.push_back(entry.path());
        }
    }
    ASSERT_FALSE(error) << "cannot list " << directory.string() << ": " << error.message();
    ASSERT_FALSE(vectors.empty()) << "no *.json vectors in " << directory.string();
    std::sort(vectors.begin(), vectors.end());

    for (const auto& vector : vectors) {
        const std::string name = vector.stem().string();
        std::filesystem::path expectedPath = vector;
        expectedPath.replace_extension(L".expected");
        if (!std::filesystem::is_regular_file(expectedPath)) {
            ADD_FAILURE() << name << ".expected is missing";
            continue;
        }
        ManifestRecord expected;
        if (!parseExpected(fromUtf8(readBytes(expectedPath)), expected)) {
            ADD_FAILURE() << name << ".expected is not seven key=value lines";
            continue;
        }
        const ManifestRecord actual = readManifest(fromUtf8(readBytes(vector)));

        EXPECT_EQ(actual.version, expected.version) << name << ": version";
        EXPECT_EQ(actual.url, expected.url) << name << ": url";
        EXPECT_EQ(actual.sha256, expected.sha256) << name << ": sha256";
        EXPECT_EQ(actual.notes, expected.notes) << name << ": notes";
        EXPECT_EQ(actual.releaseDate, expected.releaseDate) << name << ": releaseDate";
        EXPECT_EQ(actual.uploadDate, expected.uploadDate) << name << ": uploadDate";
        EXPECT_EQ(actual.mandatory, expected.mandatory) << name << ": mandatory";
    }
}

}  // namespace
