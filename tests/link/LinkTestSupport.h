#pragma once
// Shared by the link tests: a scratch working folder, image files written to order,
// the worked-example section header, and a pause recorder and clock that never wait.

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image/FirmwareImage.h"
#include "link/Clock.h"
#include "link/Pause.h"

namespace flashwise::test {

// Runs a test inside a fresh folder, the working folder where ExtRom.tmp lives.
class ScratchFolder {
public:
    ScratchFolder() {
        char pattern[] = "/tmp/flashwise-link-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
    }
    ~ScratchFolder() {
        std::filesystem::current_path(previous_);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    const std::filesystem::path& Dir() const { return dir_; }

private:
    std::filesystem::path dir_;
    std::filesystem::path previous_;
};

inline void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A 256-byte image header: magic, tag, 0x409 at 0x10, type 4 and the given size words.
struct ImageSizes {
    std::uint32_t l50 = 0, l51a = 0, l51b = 0, l52 = 0, l53 = 0, l54a = 0, l54b = 0;
};
inline std::vector<std::uint8_t> ImageHeader(const ImageSizes& s, std::uint32_t type = 4) {
    std::vector<std::uint8_t> h(256, 0);
    const std::uint8_t lead[12] = {0x01, 0x13, 0x15, 0x13, '3', 'G', 'I', 'M', 'A', 'G', 'E', ' '};
    std::copy(lead, lead + 12, h.begin());
    StoreLe32(&h[0x10], 0x409);
    StoreLe32(&h[0x14], s.l51a);
    StoreLe32(&h[0x18], s.l51b);
    StoreLe32(&h[0x1C], s.l54a);
    StoreLe32(&h[0x24], s.l52);
    StoreLe32(&h[0x28], s.l53);
    StoreLe32(&h[0x2C], s.l54b);
    StoreLe32(&h[0x30], s.l50);
    StoreLe32(&h[0x34], type);
    return h;
}

// Header plus the given data in file order.
inline std::vector<std::uint8_t> ImageFile(const ImageSizes& s, const std::vector<std::uint8_t>& data,
                                           std::uint32_t type = 4) {
    std::vector<std::uint8_t> file = ImageHeader(s, type);
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

// The section header of unit 50 in the worked example (L50 = 4, data 01 02 03 04).
inline std::vector<std::uint8_t> WorkedExampleSectionHeader() {
    std::vector<std::uint8_t> h(256, 0);
    const std::uint8_t lead[12] = {0x01, 0x13, 0x15, 0x13, '3', 'G', 'I', 'M', 'A', 'G', 'E', ' '};
    std::copy(lead, lead + 12, h.begin());
    StoreLe32(&h[0x0C], 0x04030616);
    StoreLe32(&h[0x10], 0x409);
    StoreLe32(&h[0x30], 4);
    StoreLe32(&h[0x34], 4);
    StoreLe32(&h[0x40], 4);
    return h;
}

// Records every pause and advances the fake clock by it, so time-based bounds are
// reached without waiting.
struct FakeTime {
    std::uint64_t now = 0;
    std::vector<std::uint32_t> pauses;

    PauseFn Pause() {
        return [this](std::uint32_t ms) {
            pauses.push_back(ms);
            now += ms;
        };
    }
    ClockFn Clock() {
        return [this] { return now; };
    }
    std::uint64_t PausedFor(std::uint32_t ms) const {
        std::uint64_t n = 0;
        for (auto p : pauses) n += p == ms;
        return n;
    }
};

inline std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> v;
    for (int b : values) v.push_back(static_cast<std::uint8_t>(b));
    return v;
}

// A 20-byte status record.
inline std::vector<std::uint8_t> Record(std::uint32_t kind, std::uint32_t value, std::uint32_t word8 = 0) {
    std::vector<std::uint8_t> r(20, 0);
    StoreLe32(&r[0], kind);
    StoreLe32(&r[4], value);
    StoreLe32(&r[8], word8);
    return r;
}

}  // namespace flashwise::test
