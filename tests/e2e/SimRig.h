#pragma once
// One link of each kind wired to the simulated boot loader in process, with the
// protocol's pauses counted instead of slept and a clock that moves only when read.

#include <cstdint>
#include <memory>

#include "link/ConnManager.h"
#include "sim/BootLoaderSim.h"
#include "sim/SimSerialPort.h"
#ifdef FLASHWISE_E2E_WINUSB
#include "link/ConnManagerVista.h"
#include "sim/SimWinUsb.h"
#endif

namespace flashwise::e2e {

enum class LinkKind { Serial, WinUsb };

inline const char* Name(LinkKind kind) { return kind == LinkKind::Serial ? "Serial" : "WinUsb"; }

class SimRig {
public:
    explicit SimRig(LinkKind kind, sim::FlashStore::Mode store = sim::FlashStore::Mode::Bytes)
        : device(kind == LinkKind::Serial ? sim::Transport::Serial : sim::Transport::WinUsb, store) {
        PauseFn pause = [this](std::uint32_t ms) { pausedMs += ms; };
        ClockFn clock = [this] { return ++clockMs; };
        if (kind == LinkKind::Serial) {
            link = std::make_unique<CConnManager>(std::make_unique<sim::SimSerialPort>(device), pause, clock);
        } else {
#ifdef FLASHWISE_E2E_WINUSB
            link = std::make_unique<CConnManagerVista>(std::make_unique<sim::SimWinUsb>(device), pause, clock);
#endif
        }
    }
    SimRig(const SimRig&) = delete;
    SimRig& operator=(const SimRig&) = delete;

    sim::BootLoaderSim device;
    std::unique_ptr<CConnManager> link;  // null when this build has no WinUSB link
    std::uint64_t pausedMs = 0;
    std::uint64_t clockMs = 0;
};

}  // namespace flashwise::e2e
