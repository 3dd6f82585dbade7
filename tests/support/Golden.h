// Reference files ("golden files") for the writers' exact bytes: a test
// compares what a writer produced with tests/golden/<name>, found through
// MELODRIFT_TEST_DATA (the tests folder, set by CMake). Run a test with
// MELODRIFT_UPDATE_GOLDEN=1 to write the produced bytes as the new reference
// instead, then review the change with `git diff tests/golden`.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace melodrift::testing {

inline std::filesystem::path GoldenPath(std::string_view name) {
    const char* data = std::getenv("MELODRIFT_TEST_DATA");
    return std::filesystem::path(data != nullptr ? data : "tests") / "golden" /
           std::filesystem::path(name);
}

// Whether `actual` equals the reference file's bytes; the message names the
// file and the first byte that differs.
inline ::testing::AssertionResult MatchesGolden(std::string_view name, std::string_view actual) {
    const std::filesystem::path path = GoldenPath(name);
    if (const char* update = std::getenv("MELODRIFT_UPDATE_GOLDEN");
        update != nullptr && *update == '1') {
        std::ofstream out(path, std::ios::binary);
        out.write(actual.data(), static_cast<std::streamsize>(actual.size()));
        if (out.good()) return ::testing::AssertionSuccess() << "updated " << path;
        return ::testing::AssertionFailure() << "cannot write " << path;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return ::testing::AssertionFailure()
               << "no reference file " << path << " (MELODRIFT_TEST_DATA set?)";
    const std::string expected((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (expected == actual) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    return ::testing::AssertionFailure()
           << path << " differs at byte " << at << " (reference " << expected.size()
           << " bytes, produced " << actual.size() << ")";
}

}  // namespace melodrift::testing
