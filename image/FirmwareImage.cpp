#include "image/FirmwareImage.h"

namespace flashwise {

CFirmwareImage::CFirmwareImage() : CFirmwareImage(WorkFolder::Current()) {}

CFirmwareImage::CFirmwareImage(const WorkFolder& folder) : extRomPath_(folder.ExtRomFile()) {}

bool CFirmwareImage::OpenImage(const std::filesystem::path& path) {
    summed_ = SummedRange();
    if (!file_.Open(path, RandomAccessFile::Mode::Read)) {
        file_.Close();
        return false;
    }
    path_ = path;
    // A short file fills only the start of the copies. The rest is cleared first, so
    // that a short file opened after a longer one never inherits its section sizes.
    header_.fill(0);
    table_.fill(0);
    file_.Seek(0);
    file_.Read(header_.data(), header_.size());
    file_.Seek(HeaderWord(0x44));
    file_.Read(table_.data(), table_.size());
    file_.Seek(kHeaderSize);
    return true;
}

void CFirmwareImage::CloseImage() {
    summed_ = SummedRange();
    file_.Close();
}

void CFirmwareImage::RememberSums(std::uint64_t offset, std::uint32_t length, const DataSums& sums) {
    if (!IsOpen()) return;
    summed_.valid = true;
    summed_.offset = offset;
    summed_.length = length;
    summed_.sums = sums;
}

bool CFirmwareImage::RecallSums(std::uint64_t offset, std::uint32_t length, DataSums* sums) const {
    if (!summed_.valid || !IsOpen() || summed_.offset != offset || summed_.length != length) return false;
    *sums = summed_.sums;
    return true;
}

std::uint32_t CFirmwareImage::HeaderWord(std::size_t offset) const {
    if (offset + 4 > header_.size()) return 0;
    return LoadLe32(header_.data() + offset);
}

std::uint32_t CFirmwareImage::ExtendedRomSize(std::int32_t k) const {
    if (k < 0 || static_cast<std::size_t>(k) >= kExtendedRomSizeCount) return 0;
    return LoadLe32(table_.data() + kExtendedRomSizesAt + 4 * static_cast<std::size_t>(k));
}

std::uint64_t CFirmwareImage::ExtendedRomOffset() const {
    // The sections are summed in 32 bits as the boot loader's own header words are.
    const std::uint32_t sections = 256u + HeaderWord(0x30) + HeaderWord(0x14) + HeaderWord(0x18) +
                                   HeaderWord(0x24) + HeaderWord(0x28) + HeaderWord(0x1C) +
                                   HeaderWord(0x2C);
    std::uint64_t offset = sections;
    const auto count = static_cast<std::int32_t>(kExtendedRomSizeCount);
    for (std::int32_t k = 0; k < selection_ && k < count; ++k) offset += ExtendedRomSize(k);
    return offset;
}

}  // namespace flashwise
