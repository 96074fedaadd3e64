#pragma once
// The simulated boot loader as a USB device on this machine's bus, for programs that use
// libusb: umockdev's testbed describes a usbfs device, and its ioctl emulation hands
// every usbfs request to this object in the test process, which carries it to the
// simulator (control request 0x22 to the line state, bulk OUT to HostWrite, bulk IN from
// HostRead). The program under test must run under umockdev-wrapper.

#include <umockdev.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "sim/BootLoaderSim.h"

namespace flashwise::test {

// True when the process runs under umockdev-wrapper; ask once a testbed exists.
bool InUsbEmulation();

class UsbTestbed {
public:
    UsbTestbed();
    ~UsbTestbed();
    UsbTestbed(const UsbTestbed&) = delete;
    UsbTestbed& operator=(const UsbTestbed&) = delete;
    UMockdevTestbed* Get() const { return testbed_; }

private:
    UMockdevTestbed* testbed_;
};

class EmulatedUsbPhone {
public:
    // Device `devnum` on bus 1 with the ids, one interface with bulk OUT 0x01 and IN 0x81.
    // With `kernelDriver` a kernel driver holds the interface until it is detached.
    EmulatedUsbPhone(UsbTestbed& bed, int devnum, std::uint16_t vendor, std::uint16_t product,
                     sim::BootLoaderSim& device, bool kernelDriver = false);
    ~EmulatedUsbPhone();
    EmulatedUsbPhone(const EmulatedUsbPhone&) = delete;
    EmulatedUsbPhone& operator=(const EmulatedUsbPhone&) = delete;

    // Every open of the node fails with EACCES, as for a user the device does not belong to.
    void DenyAccess();
    // Whether the simulator has vanished (any thread may ask).
    bool Gone() const;
    // What the kernel tells user space when a device is pulled out: a "remove" event and
    // the device gone from sysfs. From the test's own thread, once Gone().
    void AnnounceRemoval();

    int Detaches() const;
    int Reattaches() const;
    bool KernelDriverBound() const;
    // usbfs requests nobody here serves (a failure of the emulation, not of the program).
    int UnknownRequests() const;
    // Every usbfs request that reached the device: 0 when nothing opened it.
    int Requests() const;

private:
    struct Urb {
        UMockdevIoctlData* urb = nullptr;
        UMockdevIoctlData* buffer = nullptr;
    };
    static gboolean OnIoctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client, gpointer self);
    long Handle(unsigned long request, UMockdevIoctlData* arg, int* error);
    void ServeReads();
    void Complete(Urb urb, int status, int length);
    void Unplug();

    UsbTestbed& bed_;
    std::string sysPath_;
    std::string devNode_;
    sim::BootLoaderSim& device_;
    UMockdevIoctlBase* handler_ = nullptr;
    mutable std::mutex lock_;
    std::deque<Urb> pendingReads_;
    std::deque<Urb> done_;
    bool gone_ = false;
    bool removed_ = false;
    bool kernelDriver_ = false;
    int detaches_ = 0;
    int reattaches_ = 0;
    int unknown_ = 0;
    int requests_ = 0;
};

}  // namespace flashwise::test
