// The host build's side of a fuzz target: every seed and every input that once broke
// a parser is a row, run through the target's entry point under AddressSanitizer and
// UBSan. A row passes when the target returns and none of its properties fails.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzSupport.h"

namespace {

namespace fs = std::filesystem;

// The folders named in the environment's FLASHWISE_FUZZ_ROWS (separated by '|'), every
// file in them: one build of this file serves every target.
std::vector<fs::path> Rows() {
    std::vector<fs::path> rows;
    const char* named = std::getenv("FLASHWISE_FUZZ_ROWS");
    const std::string folders = named ? named : "";
    if (folders.empty()) return rows;
    std::size_t from = 0;
    while (from <= folders.size()) {
        const std::size_t end = std::min(folders.find('|', from), folders.size());
        const fs::path folder = folders.substr(from, end - from);
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            if (entry.is_regular_file()) rows.push_back(entry.path());
        }
        from = end + 1;
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::string RowName(const ::testing::TestParamInfo<fs::path>& info) {
    std::string name = info.param.parent_path().filename().string() + "_" + info.param.filename().string();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

class FuzzRow : public ::testing::TestWithParam<fs::path> {};

TEST_P(FuzzRow, RunsCleanly) {
    std::ifstream in(GetParam(), std::ios::binary);
    ASSERT_TRUE(in) << GetParam();
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(Corpus, FuzzRow, ::testing::ValuesIn(Rows()), RowName);

TEST(FuzzRows, TheTargetHasSeeds) { EXPECT_FALSE(Rows().empty()); }

}  // namespace
