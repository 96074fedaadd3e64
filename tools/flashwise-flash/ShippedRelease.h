#pragma once
// A release executable opened for flashing: its texts, and its two images written to a
// private folder under the names the release gives them (the boot loader sees the name
// in every request block), checked whole. The folder goes when the object does.

#include <cstdint>
#include <filesystem>
#include <string>

#include "package/ReleaseFile.h"

namespace flashwise::flash {

struct ReleaseImage {
    bool present = false;            // the release carries more than a placeholder
    std::filesystem::path path;      // in the private folder
    std::uint64_t length = 0;
    bool whole = false;
    std::string failure;             // which check failed
};

class ShippedRelease {
public:
    ShippedRelease() = default;
    ~ShippedRelease();
    ShippedRelease(const ShippedRelease&) = delete;
    ShippedRelease& operator=(const ShippedRelease&) = delete;

    // False with the reason when the file is not a release or its images cannot be written out.
    bool Open(const std::filesystem::path& file, std::string* error);

    const package::ReleaseFile& File() const { return file_; }
    std::string Text(unsigned id) const;   // a release text by the layer rule, empty when missing
    std::string String(unsigned id) const; // a string-table text, narrowed
    const ReleaseImage& Main() const { return main_; }
    const ReleaseImage& BootLoader() const { return bootLoader_; }

private:
    bool WriteImage(std::uint32_t binId, unsigned nameId, const char* fallbackName, ReleaseImage* image,
                    std::string* error);

    package::ReleaseFile file_;
    std::filesystem::path folder_;
    ReleaseImage main_;
    ReleaseImage bootLoader_;
};

}  // namespace flashwise::flash
