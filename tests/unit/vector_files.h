// Reads the shared test vectors in tests/vectors, which the release tool's
// Python tests read too.
#pragma once

#include "net/request_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifndef NIRVA_VECTOR_DIR
#error "NIRVA_VECTOR_DIR must be the vector directory as a wide string literal"
#endif

// A vector file's text, decoded the way the updater decodes a response body.
inline std::wstring readVectorText(const std::wstring& relativePath) {
    std::ifstream file(std::filesystem::path(NIRVA_VECTOR_DIR) / relativePath, std::ios::binary);
    EXPECT_TRUE(file.is_open()) << "cannot open vector " << testing::PrintToString(relativePath);
    return decodeUtf8({std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()});
}

// The tab-separated rows of a vector file, comment lines left out; a row
// without exactly `columns` fields fails the test.
inline std::vector<std::vector<std::wstring>> readVectorRows(const std::wstring& relativePath, size_t columns) {
    const std::wstring text = readVectorText(relativePath);
    std::vector<std::vector<std::wstring>> rows;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find(L'\n', start), text.size());
        const std::wstring line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty() || line[0] == L'#') {
            continue;
        }
        std::vector<std::wstring> fields;
        for (size_t fieldStart = 0;;) {
            const size_t tab = line.find(L'\t', fieldStart);
            fields.push_back(line.substr(fieldStart, tab - fieldStart));
            if (tab == std::wstring::npos) {
                break;
            }
            fieldStart = tab + 1;
        }
        EXPECT_EQ(fields.size(), columns) << testing::PrintToString(line);
        if (fields.size() == columns) {
            rows.push_back(std::move(fields));
        }
    }
    return rows;
}
