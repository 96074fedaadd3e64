#pragma once
// The simulated boot loader behind an emulated tty (/dev/ttyUSB0 in umockdev's testbed):
// the terminal settings, DTR and the modem-status lines are ioctls answered here, reads
// and writes carry the simulator's bytes. A bare pseudo-terminal has no modem lines;
// this one raises CTS and DSR changes where the simulator raises those serial events,
// and records what the program set.

#include <umockdev.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "sim/BootLoaderSim.h"
#include "tests/support/linux/EmulatedUsb.h"

namespace flashwise::test {

struct TtySettings {
    std::uint32_t baud = 0;
    bool ctsFlow = false;
    bool raw = false;
    int vmin = -1;
    int vtime = -1;
    bool exclusive = false;
};

class EmulatedTty {
public:
    EmulatedTty(UsbTestbed& bed, const std::string& name, sim::BootLoaderSim& device);
    ~EmulatedTty();
    EmulatedTty(const EmulatedTty&) = delete;
    EmulatedTty& operator=(const EmulatedTty&) = delete;

    const std::string& Node() const { return node_; }
    void DenyAccess();

    TtySettings Settings() const;
    int DtrChanges() const;
    int UnknownRequests() const;
    int Requests() const;

private:
    static gboolean OnIoctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client, gpointer self);
    static gboolean OnRead(UMockdevIoctlBase* base, UMockdevIoctlClient* client, gpointer self);
    static gboolean OnWrite(UMockdevIoctlBase* base, UMockdevIoctlClient* client, gpointer self);
    long Ioctl(unsigned long request, UMockdevIoctlData* arg, int* error);

    UsbTestbed& bed_;
    std::string sysPath_;
    std::string node_;
    sim::BootLoaderSim& device_;
    UMockdevIoctlBase* handler_ = nullptr;
    mutable std::mutex lock_;
    TtySettings settings_;
    alignas(8) unsigned char current_[64] = {};   // the kernel's terminal settings as last set
    int lines_ = 0;   // TIOCM_* bits the device shows
    bool dtr_ = true;   // the kernel raises DTR when a port opens
    int dtrChanges_ = 0;
    int unknown_ = 0;
    int requests_ = 0;
};

}  // namespace flashwise::test
