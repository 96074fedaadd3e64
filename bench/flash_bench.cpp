// flashwise-flash benchmark: a release whose image carries one large unit, written by the
// tool's own entry through the libusb transport to the simulated boot loader on an
// emulated USB bus (umockdev; run under umockdev-wrapper, as tools/bench.sh does). The
// protocol's pauses count as zero. Prints the host side's throughput and its CPU time per
// megabyte (the tool's thread: protocol, checksums, libusb), beside the whole process's
// (which also serves the emulated device).
//
//   flash_bench [--megabytes N] [--rounds N]

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "sim/BootLoaderSim.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/PeFiles.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/linux/EmulatedUsb.h"
#include "tools/flashwise-flash/FlashTool.h"

using namespace flashwise;

namespace {

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

double Cpu(int who) {
    rusage u{};
    getrusage(who, &u);
    return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

struct Figures {
    double wall = 0, threadCpu = 0, processCpu = 0;
};

Figures Run(const std::string& release, const std::vector<std::string>& extra, bool* ok) {
    test::UsbTestbed bed;
    sim::BootLoaderSim device(sim::Transport::WinUsb, sim::FlashStore::Mode::DigestOnly);
    test::EmulatedUsbPhone phone(bed, 2, 0xf1a5, 0xb007, device);
    flash::Environment env;
    env.pause = [](std::uint32_t) {};
    std::vector<std::string> args = {"--usb", "f1a5:b007"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(release);
    std::FILE* sink = std::fopen("/dev/null", "w");
    const double t0 = Cpu(RUSAGE_THREAD), p0 = Cpu(RUSAGE_SELF);
    const auto w0 = std::chrono::steady_clock::now();
    const int exit = flash::RunFlashTool(args, sink, stderr, env);
    const auto w1 = std::chrono::steady_clock::now();
    Figures f;
    f.wall = std::chrono::duration<double>(w1 - w0).count();
    f.threadCpu = Cpu(RUSAGE_THREAD) - t0;
    f.processCpu = Cpu(RUSAGE_SELF) - p0;
    std::fclose(sink);
    *ok = exit == 0;
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint32_t megabytes = 64;
    int rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--megabytes") == 0) megabytes = static_cast<std::uint32_t>(std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
    }
    test::UsbTestbed probe;   // the check looks at a testbed's redirected /sys
    if (!test::InUsbEmulation()) {
        std::fprintf(stderr, "flash_bench: run under umockdev-wrapper\n");
        return 77;
    }
    test::ScratchFolder folder;
    test::ImageSizes sizes;
    sizes.l51a = megabytes << 20;
    const auto image = test::ImageFile(sizes, test::SampleData(sizes.l51a));
    const auto release = (folder / "Flashwise.exe").string();
    test::WriteFile(release, test::MakePeFile(test::ReleaseResources(image)));

    // The same run with --dry-run costs the release's reading and checking and the
    // device's opening: what is left is the transfer.
    Figures best{1e9, 1e9, 1e9}, bestDry{1e9, 1e9, 1e9};
    for (int r = 0; r < rounds; ++r) {
        bool ok = false, dryOk = false;
        const Figures f = Run(release, {}, &ok);
        const Figures d = Run(release, {"--dry-run"}, &dryOk);
        if (!ok || !dryOk) {
            std::fprintf(stderr, "flash_bench: the flash failed\n");
            return 1;
        }
        best = {std::min(best.wall, f.wall), std::min(best.threadCpu, f.threadCpu),
                std::min(best.processCpu, f.processCpu)};
        bestDry = {std::min(bestDry.wall, d.wall), std::min(bestDry.threadCpu, d.threadCpu),
                   std::min(bestDry.processCpu, d.processCpu)};
    }
    const double mb = sizes.l51a / 1e6;
    const double wall = best.wall - bestDry.wall;
    std::printf("flash_bench: %u MiB unit through libusb into the simulated boot loader, best of %d\n", megabytes,
                rounds);
    std::printf("  whole run          %.3f s (release read and checked, device opened: %.3f s)\n", best.wall,
                bestDry.wall);
    std::printf("  transfer           %.3f s, %.1f MB/s\n", wall, mb / wall);
    std::printf("  tool's thread CPU  %.2f ms per MB (whole run %.2f ms per MB)\n",
                1000 * (best.threadCpu - bestDry.threadCpu) / mb, 1000 * best.threadCpu / mb);
    std::printf("  process CPU        %.2f ms per MB (with the emulated device's thread)\n",
                1000 * (best.processCpu - bestDry.processCpu) / mb);
    return 0;
}
