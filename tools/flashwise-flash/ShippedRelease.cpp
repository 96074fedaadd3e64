#include "tools/flashwise-flash/ShippedRelease.h"

#include <stdlib.h>

#include <cstring>
#include <fstream>
#include <system_error>

#include "image/ImageCheck.h"
#include "image/WorkFolder.h"
#include "package/ReleaseText.h"
#include "tools/flashwise-flash/Interrupt.h"

namespace flashwise::flash {

namespace {

const std::u16string kBin = u"BIN";
const std::u16string kTxt = u"TXT";
constexpr std::uint32_t kImageBin = 152;
constexpr std::uint32_t kBootLoaderBin = 153;
constexpr unsigned kImageNameString = 33;
constexpr unsigned kBootLoaderNameString = 37;
constexpr unsigned kModelIdentityText = 160;

std::string Narrow(const std::u16string& text) {
    std::string out;
    for (const char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace

ShippedRelease::~ShippedRelease() {
    if (!folder_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
        ForgetTemporaryFolder(folder_);
    }
}

std::string ShippedRelease::Text(unsigned id) const {
    const package::LayeredEntry entry = file_.Lookup(kTxt, id);
    if (entry.layer == package::Layer::Missing) return "";
    return Narrow(package::WidenReleaseText(entry.bytes));
}

std::string ShippedRelease::String(unsigned id) const {
    const auto text = file_.String(id);
    return text ? Narrow(*text) : "";
}

bool ShippedRelease::Open(const std::filesystem::path& file, std::string* error) {
    std::string why;
    if (!file_.Load(file, &why)) {
        *error = why;
        return false;
    }
    if (file_.Lookup(kBin, kImageBin).layer == package::Layer::Missing ||
        file_.Lookup(kTxt, kModelIdentityText).layer == package::Layer::Missing) {
        *error = "it is a program file but not a release (no firmware image BIN 152 or no model text TXT 160)";
        return false;
    }
    std::error_code ec;
    std::string pattern = (std::filesystem::temp_directory_path(ec) / "flashwise-flash.XXXXXX").string();
    if (ec || mkdtemp(pattern.data()) == nullptr) {
        *error = "cannot make a temporary folder for its images";
        return false;
    }
    folder_ = pattern;
    RegisterTemporaryFolder(folder_);
    return WriteImage(kImageBin, kImageNameString, "Tarn_G4.abi", &main_, error) &&
           WriteImage(kBootLoaderBin, kBootLoaderNameString, "Tarn_G4_SPBL.abi", &bootLoader_, error);
}

bool ShippedRelease::WriteImage(std::uint32_t binId, unsigned nameId, const char* fallbackName, ReleaseImage* image,
                                std::string* error) {
    const package::LayeredEntry entry = file_.Lookup(kBin, binId);
    // The base layer's 4-byte "fake" stands for an image the release does not carry.
    image->present = entry.layer != package::Layer::Missing &&
                     !(entry.bytes.size == 4 && std::memcmp(entry.bytes.data, "fake", 4) == 0);
    if (!image->present) {
        image->failure = "the release carries no image in BIN " + std::to_string(binId);
        return true;
    }
    // The name reaches the boot loader in the request block; one that is not a bare
    // file name would lead out of the folder, so the usual name stands in.
    const auto text = file_.String(nameId);
    std::string name = text && WorkFolder::IsBareFileName(*text) ? Narrow(*text) : fallbackName;
    image->path = folder_ / name;
    image->length = entry.bytes.size;
    std::ofstream out(image->path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(entry.bytes.data), static_cast<std::streamsize>(entry.bytes.size));
    out.close();
    if (!out) {
        *error = "cannot write its image to " + image->path.string();
        return false;
    }
    const ImageFault fault = CheckImage(entry.bytes.data, entry.bytes.size, true);
    image->whole = fault == ImageFault::None;
    image->failure = ImageFaultText(fault);
    return true;
}

}  // namespace flashwise::flash
