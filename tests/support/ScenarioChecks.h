#pragma once
// Checks for test programs that play one whole scenario under Wine and print a verdict
// per step: the harness shows the lines, the exit code says whether any step failed.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace flashwise::test {

inline int& CheckFailures() {
    static int failures = 0;
    return failures;
}

inline void Check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
    std::fflush(stdout);
    if (!ok) ++CheckFailures();
}

// Prints the count and gives the program's exit code.
inline int CheckVerdict() {
    std::printf("%d failure(s)\n", CheckFailures());
    return CheckFailures() == 0 ? 0 : 1;
}

inline std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace flashwise::test
