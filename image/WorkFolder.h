#pragma once
// The one folder every file the program writes goes into: the helper programs, the
// two image files and ExtRom.tmp. The program makes a private folder of its own for
// each run (PrivateFolderIn names it), which only administrators can write, so that
// nothing the user's other programs do can change a file between its write and its
// use; tests give a scratch folder of their own.

#include <cstdint>
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

    // Full path of the file `name` in the folder; empty when `name` is not a bare file
    // name, so that no name from outside can lead anywhere else.
    std::filesystem::path File(std::string_view name) const;
    std::filesystem::path File(std::u16string_view name) const;

    // A name that stays inside the folder: not empty, no folder separator, no ':' (a
    // drive or a stream), not "." or "..", no device name, no trailing dot or blank, no
    // character below 32 or one the file system refuses.
    static bool IsBareFileName(std::u16string_view name);

    // Where the extended-ROM entry is unpacked and unit 55 is read from.
    std::filesystem::path ExtRomFile() const { return File(kExtRomFileName); }

    const std::filesystem::path& Path() const { return folder_; }

    // The name of a run's private folder in `base`, from a token that differs between
    // tries: "Flashwise-" and the token's eight hexadecimal digits.
    static std::filesystem::path PrivateFolderIn(const std::filesystem::path& base, std::uint32_t token);

private:
    std::filesystem::path folder_;
};

}  // namespace flashwise
