// flashwise-flash end to end, in process: a release file written here, the simulated
// boot loader on an emulated USB bus, the tool's own entry with the protocol's pauses
// counted instead of slept. One table of rows, one runner.

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "package/ReleaseFile.h"
#include "sim/BootLoaderSim.h"
#include "tests/support/DeviceFaults.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/PeFiles.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/linux/EmulatedTty.h"
#include "tests/support/linux/EmulatedUsb.h"
#include "tools/flashwise-flash/FlashTool.h"

namespace flashwise::test {
namespace {

using sim::DeviceFault;
using sim::Misbehaviour;
using sim::Step;

constexpr std::uint16_t kVendor = 0xf1a5;
constexpr std::uint16_t kProduct = 0xb007;

enum class FileKind { Release, NotAProgram, ProgramWithoutRelease, BrokenImage };
enum class Link { Usb, Serial };

struct Expect {
    int exit = 0;
    const char* errorSays = "";      // a piece of the error line
    std::vector<int> judged;         // codes the device judged, in order
};

struct Row {
    const char* name;
    ImageSizes image;
    ImageSizes bootLoader;           // all zero: the release carries the placeholder
    std::vector<std::string> extraArgs;
    std::vector<DeviceFault> faults;
    Expect usb;
    Expect serial;                   // exit -1: the row has no serial form
    FileKind file = FileKind::Release;
    int devices = 1;
    bool kernelDriver = false;
    bool denyAccess = false;
    bool terminal = false;           // stdout is a terminal: unit lines are rewritten in place
};


ImageSizes Sizes(std::uint32_t l50, std::uint32_t l51a, std::uint32_t l52) {
    ImageSizes s;
    s.l50 = l50;
    s.l51a = l51a;
    s.l52 = l52;
    return s;
}

const ImageSizes kMain = Sizes(1001, 20000, 8193);
const ImageSizes kBoot = Sizes(4096, 0, 0);
const Expect kWritten{0, "", {51, 52, 50}};
const Expect kNoSerialForm{-1, "", {}};

const Row kRows[] = {
    {"whole release stored equal to its image", kMain, {}, {}, {}, kWritten, kWritten},
    {"on a terminal", kMain, {}, {}, {}, kWritten, kWritten, FileKind::Release, 1, false, false, true},
    {"boot-loader pass first", kMain, kBoot, {"--boot-loader-pass"}, {}, {0, "", {50, 51, 52, 50}},
     {0, "", {50, 51, 52, 50}}},
    {"boot-loader pass asked of a release without one", kMain, {}, {"--boot-loader-pass"}, {},
     {2, "carries no image in BIN 153", {}}, {2, "carries no image in BIN 153", {}}},
    {"dry run sends nothing", kMain, {}, {"--dry-run"}, {}, {0, "", {}}, {0, "", {}}},
    {"a kernel driver holding the interface is detached and given back", kMain, {}, {}, {}, kWritten, kNoSerialForm,
     FileKind::Release, 1, true},
    {"refused unit", kMain, {}, {}, {Fault(Misbehaviour::ResultCode, Step::Data, 2, 0x88)},
     {4, "refused unit 52 with result code 0x88", {51, 52}}, {4, "refused unit 52 with result code 0x88", {51, 52}}},
    {"checksum refused", kMain, {}, {}, {Fault(Misbehaviour::RejectChecksum, Step::Data, 1)},
     {4, "result code 0x99", {51}}, {4, "result code 0x99", {51}}},
    // Over USB a readiness read that gives up counts as ready, and nothing waits after
    // the request block or the header; the serial link waits for a port event each time.
    {"silent at the announcement", kMain, {}, {}, {Fault(Misbehaviour::Silent, Step::Announce)}, kWritten,
     {4, "stopped answering during unit 51", {}}},
    {"silent after the request block", kMain, {}, {}, {Fault(Misbehaviour::Silent, Step::Request)}, kWritten,
     {4, "stopped answering during unit 51", {}}},
    {"silent after the header", kMain, {}, {}, {Fault(Misbehaviour::Silent, Step::Header)}, kWritten,
     {4, "stopped answering during unit 51", {}}},
    {"silent after the data", kMain, {}, {}, {Fault(Misbehaviour::Silent, Step::Data, 2)},
     {4, "stopped answering during unit 52", {51, 52}}, {4, "stopped answering during unit 52", {51, 52}}},
    {"zero-length packets and stray bytes are read through", kMain, {}, {},
     {Fault(Misbehaviour::ZeroLengthPackets, Step::Announce, 1, 0, 4),
      Fault(Misbehaviour::ZeroLengthPackets, Step::Data, 2, 0, 3),
      Fault(Misbehaviour::ShiftRecord, Step::Data, 3, 0x11, 5)},
     kWritten, kWritten},
    {"device vanishes during the data", kMain, {}, {}, {Fault(Misbehaviour::Vanish, Step::Data, 2, 0, 4000)},
     {4, "went away during unit 52", {51}}, {4, "went away during unit 52", {51}}},
    {"device vanishes at the announcement", kMain, {}, {}, {Fault(Misbehaviour::Vanish, Step::Announce, 1)},
     {4, "went away during unit 51", {}}, {4, "went away during unit 51", {}}},
    {"two matching devices", kMain, {}, {}, {}, {3, "2 USB devices f1a5:b007", {}}, kNoSerialForm, FileKind::Release,
     2},
    {"no device", kMain, {}, {}, {}, {3, "lsusb", {}}, {3, "ls /dev/ttyUSB", {}}, FileKind::Release, 0},
    {"permission denied", kMain, {}, {}, {}, {3, "udev rule", {}}, {3, "dialout", {}}, FileKind::Release, 1, false,
     true},
    {"not a program file", kMain, {}, {}, {}, {2, "no MZ header", {}}, {2, "no MZ header", {}}, FileKind::NotAProgram},
    {"a program without a release", kMain, {}, {}, {}, {2, "not a release (no firmware image", {}},
     {2, "not a release (no firmware image", {}}, FileKind::ProgramWithoutRelease},
    {"an image that fails its check", kMain, {}, {}, {}, {2, "a unit of the image runs past the end of its file", {}},
     {2, "a unit of the image runs past the end of its file", {}}, FileKind::BrokenImage},
};

// Drops the right to open files regardless of their mode, on this thread, while it lives.
class WithoutFileOverride {
public:
    WithoutFileOverride() {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        syscall(SYS_capget, &header_, saved_);
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        syscall(SYS_capset, &header_, lowered);
    }
    ~WithoutFileOverride() { syscall(SYS_capset, &header_, saved_); }

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
};

std::string Take(std::FILE* f) {
    std::string text;
    std::rewind(f);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
    return text;
}

struct Case {
    Row row;
    Link link;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.row.name; }

class FlashRows : public ::testing::TestWithParam<Case> {};

TEST_P(FlashRows, Row) {
    UsbTestbed bed;   // first: the check below looks at the testbed's redirected /sys
    if (!InUsbEmulation()) GTEST_FAIL() << "run under umockdev-wrapper (ctest does)";
    const Row& row = GetParam().row;
    const Link link = GetParam().link;
    const Expect& expect = link == Link::Usb ? row.usb : row.serial;
    ScratchFolder folder;
    const auto release = folder / "Flashwise.exe";
    std::vector<std::uint8_t> image = ImageFile(row.image, SampleData(row.image.l50 + row.image.l51a + row.image.l52));
    std::vector<std::uint8_t> boot;
    if (row.bootLoader.l50 != 0) boot = ImageFile(row.bootLoader, SampleData(row.bootLoader.l50, 7));
    switch (row.file) {
        case FileKind::Release: WriteFile(release, MakePeFile(ReleaseResources(image, boot))); break;
        case FileKind::NotAProgram: WriteFile(release, image); break;
        case FileKind::ProgramWithoutRelease:
            WriteFile(release, MakePeFile({{u"", 6, 3, 1033, StringBlock({})}}));
            break;
        case FileKind::BrokenImage:
            image.resize(image.size() - 1);
            WriteFile(release, MakePeFile(ReleaseResources(image)));
            break;
    }

    std::vector<std::unique_ptr<sim::BootLoaderSim>> devices;
    std::vector<std::unique_ptr<EmulatedUsbPhone>> phones;
    std::unique_ptr<EmulatedTty> tty;
    for (int i = 0; i < row.devices; ++i) {
        devices.push_back(std::make_unique<sim::BootLoaderSim>(link == Link::Usb ? sim::Transport::WinUsb
                                                                                 : sim::Transport::Serial));
        for (const DeviceFault& f : row.faults) devices.back()->AddFault(f);
        if (link == Link::Usb) {
            phones.push_back(std::make_unique<EmulatedUsbPhone>(bed, 2 + i, kVendor, kProduct, *devices.back(),
                                                                row.kernelDriver));
        } else {
            tty = std::make_unique<EmulatedTty>(bed, "ttyUSB0", *devices.back());
        }
    }
    if (row.denyAccess && link == Link::Usb) phones.front()->DenyAccess();
    if (row.denyAccess && link == Link::Serial) tty->DenyAccess();

    std::uint64_t pausedMs = 0;
    std::uint64_t clockMs = 0;
    flash::Environment env;
    env.pause = [&](std::uint32_t ms) { pausedMs += ms; };
    env.clock = [&] { return ++clockMs; };
    // Real time only where the emulated device makes the link wait for what will not come.
    env.usbBounds.readWaitMs = 300;
    env.usbBounds.writeWaitMs = 300;
    env.usbBounds.cancelWaitMs = 1000;
    env.serialEventWaitMs = 20;
    env.terminal = row.terminal;
    std::vector<std::string> args = link == Link::Usb ? std::vector<std::string>{"--usb", "f1a5:b007"}
                                                      : std::vector<std::string>{"--serial", "/dev/ttyUSB0"};
    args.insert(args.end(), row.extraArgs.begin(), row.extraArgs.end());
    args.push_back(release.string());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    int exit;
    {
        std::unique_ptr<WithoutFileOverride> lowered;
        if (row.denyAccess) lowered = std::make_unique<WithoutFileOverride>();
        // A phone that vanishes is also announced gone, as the kernel does, while the tool runs.
        std::atomic<bool> finished{false};
        std::thread unplug([&] {
            while (!finished) {
                for (auto& phone : phones) {
                    if (phone->Gone()) phone->AnnounceRemoval();
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        exit = flash::RunFlashTool(args, out, err, env);
        finished = true;
        unplug.join();
    }
    const std::string said = Take(out);
    const std::string complained = Take(err);
    SCOPED_TRACE("stdout:\n" + said + "stderr:\n" + complained);

    EXPECT_EQ(exit, expect.exit);
    EXPECT_NE(complained.find(expect.errorSays), std::string::npos);
    // Longer than every bound of the links with their pauses counted.
    EXPECT_LT(pausedMs, 20ull * 60 * 1000);
    const bool dryRun = row.extraArgs == std::vector<std::string>{"--dry-run"};
    // A unit's line ends in place of its progress line on a terminal, plainly otherwise.
    EXPECT_EQ(said.find("\r\x1b[Kunit 51: 20000 bytes written") != std::string::npos, row.terminal && expect.exit == 0);
    if (expect.exit == 0) {
        EXPECT_NE(said.find(dryRun ? "nothing was sent" : "the phone was written"), std::string::npos);
    }
    if (devices.empty()) return;
    const sim::BootLoaderSim& device = *devices.front();
    std::vector<int> judged;
    for (const auto& v : device.Verdicts()) judged.push_back(v.code);
    EXPECT_EQ(judged, expect.judged);
    for (const auto& phone : phones) EXPECT_EQ(phone->UnknownRequests(), 0);
    if (tty) {
        EXPECT_EQ(tty->UnknownRequests(), 0);
    }
    if (expect.exit == 0 && !expect.judged.empty()) {
        // The main image's units as they stand in the image, under its name.
        const auto path = folder / "image.abi";
        WriteFile(path, image);
        for (const auto& unit : ExpectedUnits(row.image)) {
            const sim::StoredUnit* stored = device.Store().Find(unit.first);
            ASSERT_NE(stored, nullptr) << unit.first;
            EXPECT_TRUE(stored->data == ReadSpan(path, unit.second)) << "unit " << unit.first << " differs";
            EXPECT_EQ(stored->fileName, "Tarn_G4.abi");
        }
        EXPECT_EQ(device.EndTransfers(), row.bootLoader.l50 != 0 ? 2 : 1);
        if (row.faults.empty()) {
            EXPECT_TRUE(device.ProtocolErrors().empty()) << device.ProtocolErrors().front();
        }
    }
    if (expect.exit == 2 || row.devices > 1 || dryRun) {
        EXPECT_EQ(device.Announcements(), 0) << "nothing may be sent";
    }
    if (expect.exit == 2 || row.devices > 1) {
        for (const auto& phone : phones) EXPECT_EQ(phone->Requests(), 0) << "no device may be opened";
        if (tty) {
            EXPECT_EQ(tty->Requests(), 0) << "no device may be opened";
        }
    }
    if (row.kernelDriver) {
        EXPECT_EQ(phones.front()->Detaches(), 1);
        EXPECT_EQ(phones.front()->Reattaches(), 1);
        EXPECT_TRUE(phones.front()->KernelDriverBound());
    }
    if (tty && expect.exit != 2 && !row.denyAccess) {
        // The line as the serial link sets it: 115200 baud, CTS flow control, raw, a 5 s
        // first-byte wait, unshared; DTR cleared and set around every block.
        const TtySettings set = tty->Settings();
        EXPECT_EQ(set.baud, 115200u);
        EXPECT_TRUE(set.ctsFlow);
        EXPECT_TRUE(set.raw);
        EXPECT_EQ(set.vmin, 0);
        EXPECT_EQ(set.vtime, 50);
        EXPECT_TRUE(set.exclusive);
        if (!dryRun && expect.exit == 0) {
            EXPECT_GE(tty->DtrChanges(), 2);
        }
    }
}

std::vector<Case> Cases(Link link) {
    std::vector<Case> cases;
    for (const Row& row : kRows) {
        if ((link == Link::Usb ? row.usb : row.serial).exit >= 0) cases.push_back({row, link});
    }
    return cases;
}

std::string RowName(const ::testing::TestParamInfo<Case>& info) {
    std::string name;
    for (const char* c = info.param.row.name; *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Usb, FlashRows, ::testing::ValuesIn(Cases(Link::Usb)), RowName);
INSTANTIATE_TEST_SUITE_P(Serial, FlashRows, ::testing::ValuesIn(Cases(Link::Serial)), RowName);

#ifdef FLASHWISE_DEMO_RELEASE
// The demo release as the Windows build makes it, written over the emulated bus: the
// flash store ends equal to the image it carries.
TEST(DemoRelease, FlashStoresItsImage) {
    UsbTestbed bed;
    ASSERT_TRUE(InUsbEmulation()) << "run under umockdev-wrapper (ctest does)";
    package::ReleaseFile file;
    std::string error;
    ASSERT_TRUE(file.Load(FLASHWISE_DEMO_RELEASE, &error)) << FLASHWISE_DEMO_RELEASE << ": " << error;
    const auto entry = file.Lookup(u"BIN", 152);
    ASSERT_EQ(entry.layer, package::Layer::Neutral);
    ScratchFolder folder;
    const auto imagePath = folder / "image.abi";
    WriteFile(imagePath, std::vector<std::uint8_t>(entry.bytes.data, entry.bytes.data + entry.bytes.size));
    ImageSizes sizes;
    sizes.l50 = GetWord(entry.bytes.data + 0x30);
    sizes.l51a = GetWord(entry.bytes.data + 0x14);
    sizes.l51b = GetWord(entry.bytes.data + 0x18);
    sizes.l52 = GetWord(entry.bytes.data + 0x24);
    sizes.l53 = GetWord(entry.bytes.data + 0x28);
    sizes.l54a = GetWord(entry.bytes.data + 0x1C);
    sizes.l54b = GetWord(entry.bytes.data + 0x2C);

    sim::BootLoaderSim device(sim::Transport::WinUsb);
    EmulatedUsbPhone phone(bed, 2, kVendor, kProduct, device);
    flash::Environment env;
    env.pause = [](std::uint32_t) {};
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int exit = flash::RunFlashTool({"--usb", "f1a5:b007", FLASHWISE_DEMO_RELEASE}, out, err, env);
    const std::string said = Take(out);
    const std::string complained = Take(err);
    std::printf("%s%s", said.c_str(), complained.c_str());
    ASSERT_EQ(exit, 0);
    const auto units = ExpectedUnits(sizes);
    ASSERT_FALSE(units.empty());
    EXPECT_EQ(device.Store().Size(), units.size());
    for (const auto& unit : units) {
        const sim::StoredUnit* stored = device.Store().Find(unit.first);
        ASSERT_NE(stored, nullptr) << unit.first;
        EXPECT_TRUE(stored->data == ReadSpan(imagePath, unit.second)) << "unit " << unit.first << " differs";
    }
    EXPECT_EQ(device.EndTransfers(), 1);
    EXPECT_TRUE(device.ProtocolErrors().empty());
}
#endif

}  // namespace
}  // namespace flashwise::test
