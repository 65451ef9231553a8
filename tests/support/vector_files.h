// Reads the shared test vectors in tests/vectors, which the release tool's
// Python tests read too.
#pragma once

#include "common/encoding.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#ifndef NIRVA_VECTOR_DIR
#error "NIRVA_VECTOR_DIR must be the vector directory as a wide string literal"
#endif

inline std::string readVectorBytes(const std::wstring& relativePath) {
    std::ifstream file(std::filesystem::path(NIRVA_VECTOR_DIR) / relativePath, std::ios::binary);
    EXPECT_TRUE(file.is_open()) << "cannot open vector " << testing::PrintToString(relativePath);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A vector file's text, decoded the way the updater decodes a response body.
inline std::wstring readVectorText(const std::wstring& relativePath) {
    return decodeUtf8(readVectorBytes(relativePath));
}

// The tab-separated rows of a vector file, without its comment lines.
inline std::vector<std::vector<std::wstring>> readVectorRows(const std::wstring& relativePath, size_t columns) {
    std::wistringstream lines(readVectorText(relativePath));
    std::vector<std::vector<std::wstring>> rows;
    for (std::wstring line; std::getline(lines, line);) {
        if (line.empty() || line[0] == L'#') {
            continue;
        }
        std::wistringstream fields(line);
        rows.emplace_back();
        for (std::wstring field; std::getline(fields, field, L'\t');) {
            rows.back().push_back(field);
        }
        if (line.back() == L'\t') {
            rows.back().emplace_back();
        }
        EXPECT_EQ(rows.back().size(), columns) << testing::PrintToString(line);
        rows.back().resize(columns);
    }
    return rows;
}

// Bytes as lower-case hexadecimal digits, as the vector files write them.
inline std::string hexText(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : bytes) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}
