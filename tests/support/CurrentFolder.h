#pragma once
// Moves the process into another folder for a guard's life, so a test can show that
// nothing depends on the current folder being the one its files are in.

#include <filesystem>

namespace flashwise::test {

class InCurrentFolder {
public:
    explicit InCurrentFolder(const std::filesystem::path& folder) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~InCurrentFolder() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }
    InCurrentFolder(const InCurrentFolder&) = delete;
    InCurrentFolder& operator=(const InCurrentFolder&) = delete;

private:
    std::filesystem::path previous_;
};

}  // namespace flashwise::test
