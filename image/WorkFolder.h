#pragma once
// The one folder every file the program writes goes into: the helper programs, the
// two image files and ExtRom.tmp. The program takes the process's working folder once,
// at start, so a later change of the current folder cannot scatter its files or make
// one of them unfindable for deletion; tests give a scratch folder of their own.

#include <filesystem>
#include <string_view>

namespace flashwise {

// The unpacked extended-ROM entry, sent as unit 55.
constexpr const char* kExtRomFileName = "ExtRom.tmp";

class WorkFolder {
public:
    // `folder` is made absolute against the current folder at the time of the call.
    explicit WorkFolder(const std::filesystem::path& folder);

    // The process's working folder, as it is now.
    static WorkFolder Current();

    // Full path of the file `name` in the folder. `name` is a bare file name.
    std::filesystem::path File(std::string_view name) const;
    std::filesystem::path File(std::u16string_view name) const;

    // Where the extended-ROM entry is unpacked and unit 55 is read from.
    std::filesystem::path ExtRomFile() const { return File(kExtRomFileName); }

    const std::filesystem::path& Path() const { return folder_; }

private:
    std::filesystem::path folder_;
};

}  // namespace flashwise
