#pragma once
// A scripted SetupAPI + WinUSB: records every call with its bytes, keeps count of the
// handles it gave out, and completes transfers as the script says.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "link/WinUsbApi.h"

namespace flashwise::test {

struct UsbCall {
    std::string op;   // "bind", "classdevs", "enum", "detail", "destroy", "createfile", "event",
                      // "close", "wait", "result", "cancel", "init", "free", "settings", "pipe",
                      // "line", "out", "in"
    std::vector<std::uint8_t> bytes;   // bytes written ("out")
    std::uint32_t value = 0;           // line-state value, requested length ("in"), wait bound
    std::uintptr_t handle = 0;         // handle closed or freed
    std::string kind;                  // and what it was: "device", "event", "interface", "set"
};

// How a transfer completes: at once, after a wait, with an error, or not within the bound.
enum class Completion { Immediate, Pending, Error, Stuck };

struct TransferStep {
    Completion how = Completion::Pending;
    std::vector<std::uint8_t> bytes;   // reads: bytes delivered (empty: zero-length packet)
    std::uint32_t count = ~0u;         // writes: bytes accepted (~0: all asked)
};

struct UsbScript {
    bool bindFails = false;
    bool classDevsFails = false;
    struct Interface {
        std::u16string path;
        bool detailFails = false;
    };
    std::vector<Interface> interfaces;
    bool createFileFails = false;
    bool initFails = false;
    bool settingsFails = false;
    std::vector<UsbPipeInfo> pipes = {{kUsbPipeTypeBulk, 0x81, 512}, {kUsbPipeTypeBulk, 0x02, 512}};
    int pipeQueryFailsAt = -1;
    int eventFailsAt = -1;                // index among CreateManualResetEvent calls
    std::deque<bool> control;             // ControlTransfer results; true once empty
    std::deque<TransferStep> writes;      // a write with no step completes in full after a wait
    std::deque<TransferStep> reads;       // a read with no step never completes (stuck)
    bool cancelHolds = false;             // a cancelled transfer does not end within its bound
    std::uint64_t* clock = nullptr;       // advanced by the bound of every stuck wait
    std::uint64_t msPerRead = 0;          // and by this on every read that completes
};

class FakeWinUsbApi : public WinUsbApi {
public:
    FakeWinUsbApi(UsbScript* script, std::vector<UsbCall>* calls) : s_(script), calls_(calls) {}

    bool Bind() override {
        Log("bind");
        return !s_->bindFails;
    }
    OsHandle GetClassDevs(const DeviceGuid& guid, std::uint32_t flags) override {
        Log("classdevs", flags);
        lastGuid = guid;
        if (s_->classDevsFails) return InvalidOsHandle();
        return Make("set");
    }
    bool EnumDeviceInterfaces(OsHandle set, const DeviceGuid&, std::uint32_t index,
                              DeviceInterfaceData* data) override {
        Log("enum", index);
        EXPECT_TRUE(open_.count(set));
        interfaceDataSize = data->size;
        if (index >= s_->interfaces.size()) return false;
        data->reserved = index;
        return true;
    }
    bool GetDeviceInterfaceDetail(OsHandle, DeviceInterfaceData* data, std::uint8_t* detail,
                                  std::uint32_t detailSize, std::uint32_t* required,
                                  DevInfoData* devInfo) override {
        const auto& iface = s_->interfaces[data->reserved];
        const std::uint32_t needed = 4 + 2 * static_cast<std::uint32_t>(iface.path.size() + 1);
        Log("detail", detailSize);
        if (detail == nullptr) {
            if (required != nullptr) *required = needed;
            return false;
        }
        detailFixedSize = detail[0] | detail[1] << 8 | detail[2] << 16 | detail[3] << 24;
        devInfoSize = devInfo != nullptr ? devInfo->size : 0;
        if (iface.detailFails || detailSize < needed) return false;
        for (std::size_t i = 0; i <= iface.path.size(); ++i) {
            const char16_t c = i < iface.path.size() ? iface.path[i] : 0;
            detail[4 + 2 * i] = static_cast<std::uint8_t>(c);
            detail[5 + 2 * i] = static_cast<std::uint8_t>(c >> 8);
        }
        return true;
    }
    void DestroyDeviceInfoList(OsHandle set) override {
        Log("destroy");
        open_.erase(set);
    }
    OsHandle CreateDeviceFile(const std::u16string& path) override {
        Log("createfile");
        openedPath = path;
        if (s_->createFileFails) return InvalidOsHandle();
        return Make("device");
    }
    OsHandle CreateManualResetEvent() override {
        Log("event");
        if (events_++ == s_->eventFailsAt) return nullptr;
        return Make("event");
    }
    void CloseHandle(OsHandle handle) override {
        EXPECT_TRUE(open_.count(handle)) << "closing a handle that is not open";
        calls_->push_back({"close", {}, 0, reinterpret_cast<std::uintptr_t>(handle),
                           open_.count(handle) ? kinds_[handle] : "?"});
        open_.erase(handle);
    }
    std::uint32_t LastError() override { return lastError_; }

    WaitOutcome WaitForEvent(OsHandle event, std::uint32_t timeoutMs) override {
        Log("wait", timeoutMs);
        EXPECT_TRUE(open_.count(event));
        if (stuck_) {
            if (s_->clock != nullptr) *s_->clock += timeoutMs;
            return WaitOutcome::TimedOut;
        }
        return WaitOutcome::Signalled;
    }
    bool GetOverlappedResult(OsHandle, Overlapped which, std::uint32_t* transferred) override {
        Log("result");
        *transferred = pendingCount_[which];
        return pendingOk_[which];
    }
    bool CancelTransfer(OsHandle, Overlapped, std::uint32_t boundMs) override {
        Log("cancel", boundMs);
        if (s_->cancelHolds) {
            if (s_->clock != nullptr) *s_->clock += boundMs;
            return false;
        }
        stuck_ = false;
        return true;
    }
    bool Initialize(OsHandle device, OsHandle* interfaceHandle) override {
        Log("init");
        EXPECT_TRUE(open_.count(device));
        if (s_->initFails) return false;
        *interfaceHandle = Make("interface");
        return true;
    }
    bool Free(OsHandle interfaceHandle) override {
        calls_->push_back({"free", {}, 0, reinterpret_cast<std::uintptr_t>(interfaceHandle), "interface"});
        EXPECT_TRUE(open_.count(interfaceHandle));
        open_.erase(interfaceHandle);
        return true;
    }
    bool QueryInterfaceSettings(OsHandle, std::uint8_t alternate, UsbInterfaceInfo* info) override {
        Log("settings", alternate);
        if (s_->settingsFails) return false;
        info->numEndpoints = static_cast<std::uint8_t>(s_->pipes.size());
        return true;
    }
    bool QueryPipe(OsHandle, std::uint8_t, std::uint8_t index, UsbPipeInfo* info) override {
        Log("pipe", index);
        if (index == s_->pipeQueryFailsAt) return false;
        *info = s_->pipes[index];
        return true;
    }
    bool ControlTransfer(OsHandle interfaceHandle, const UsbSetupPacket& setup) override {
        Log("line", setup.value);
        EXPECT_TRUE(open_.count(interfaceHandle));
        lastSetup = setup;
        if (s_->control.empty()) return true;
        const bool ok = s_->control.front();
        s_->control.pop_front();
        return ok;
    }
    bool WritePipe(OsHandle, std::uint8_t pipeId, const std::uint8_t* buffer, std::uint32_t length,
                   std::uint32_t* transferred, Overlapped which, OsHandle event) override {
        EXPECT_EQ(which, Overlapped::Write);
        EXPECT_TRUE(open_.count(event));
        writePipe = pipeId;
        TransferStep step;
        if (!s_->writes.empty()) {
            step = s_->writes.front();
            s_->writes.pop_front();
        }
        const std::uint32_t n = step.count == ~0u ? length : step.count;
        calls_->push_back({"out", std::vector<std::uint8_t>(buffer, buffer + (step.how == Completion::Error ? 0 : n)),
                           length, 0, {}});
        return Start(step.how, which, n, transferred);
    }
    bool ReadPipe(OsHandle, std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t length,
                  std::uint32_t* transferred, Overlapped which, OsHandle event) override {
        Log("in", length);
        EXPECT_EQ(which, Overlapped::Read);
        EXPECT_TRUE(open_.count(event));
        if (pipeId == 0) {   // no bulk IN pipe was found
            lastError_ = 87;
            return false;
        }
        TransferStep step;
        step.how = Completion::Stuck;
        if (!s_->reads.empty()) {
            step = s_->reads.front();
            s_->reads.pop_front();
        }
        const std::uint32_t n = std::min<std::uint32_t>(length, static_cast<std::uint32_t>(step.bytes.size()));
        std::copy(step.bytes.begin(), step.bytes.begin() + n, buffer);
        if (n < step.bytes.size()) {   // the rest arrives with the next transfer
            TransferStep rest = step;
            rest.bytes.erase(rest.bytes.begin(), rest.bytes.begin() + n);
            s_->reads.push_front(rest);
        }
        if (step.how != Completion::Stuck && s_->clock != nullptr) *s_->clock += s_->msPerRead;
        return Start(step.how, which, n, transferred);
    }

    // Handles given out and not yet closed or freed, by kind.
    int Held(const std::string& kind) const {
        int n = 0;
        for (auto h : open_) n += kinds_.at(h) == kind;
        return n;
    }

    DeviceGuid lastGuid{};
    std::uint32_t interfaceDataSize = 0, detailFixedSize = 0, devInfoSize = 0;
    std::u16string openedPath;
    UsbSetupPacket lastSetup;
    std::uint8_t writePipe = 0;

private:
    void Log(const char* op, std::uint32_t value = 0) { calls_->push_back({op, {}, value, 0, {}}); }
    OsHandle Make(const std::string& kind) {
        auto h = reinterpret_cast<OsHandle>(next_++);
        open_.insert(h);
        kinds_[h] = kind;
        return h;
    }
    bool Start(Completion how, Overlapped which, std::uint32_t n, std::uint32_t* transferred) {
        stuck_ = false;
        switch (how) {
            case Completion::Immediate:
                *transferred = n;
                return true;
            case Completion::Error:
                lastError_ = 31;
                return false;
            case Completion::Stuck:
                stuck_ = true;
                [[fallthrough]];
            case Completion::Pending:
                pendingCount_[which] = n;
                pendingOk_[which] = true;
                lastError_ = kErrorIoPending;
                return false;
        }
        return false;
    }

    UsbScript* s_;
    std::vector<UsbCall>* calls_;
    std::uintptr_t next_ = 0x100;
    std::set<OsHandle> open_;
    std::map<OsHandle, std::string> kinds_;
    int events_ = 0;
    std::uint32_t lastError_ = 0;
    bool stuck_ = false;
    std::map<Overlapped, std::uint32_t> pendingCount_;
    std::map<Overlapped, bool> pendingOk_;
};

}  // namespace flashwise::test
