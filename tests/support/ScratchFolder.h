#pragma once
// A fresh folder under the system's temporary folder for one test, removed with
// everything in it when the test is done. Optionally the current folder while it
// lives, for code that writes its working files by relative name.

#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/CurrentFolder.h"

namespace flashwise::test {

class ScratchFolder {
public:
    enum class Use { Aside, AsCurrentFolder };

    explicit ScratchFolder(Use use = Use::Aside);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
    std::unique_ptr<InCurrentFolder> inside_;   // while it is the current folder
};

}  // namespace flashwise::test
