#pragma once
// A scripted serial port: records every call with its bytes, answers reads from a
// script of byte runs, empty reads and failures.

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "link/SerialPort.h"

namespace flashwise::test {

struct SerialCall {
    std::string op;                   // "open", "close", "settings", "mask", "timeouts",
                                      // "dtr+", "dtr-", "wait", "read", "write"
    std::vector<std::uint8_t> bytes;  // written bytes
    std::wstring name;                // opened name
};

struct SerialScript {
    std::set<std::wstring> present;          // names that open
    std::deque<std::vector<std::uint8_t>> reads;  // runs of bytes; an empty run is an empty read
    std::deque<bool> readFails;              // per read call, before the runs: true fails that call
    std::deque<bool> waits;                  // WaitEvent results in order; true once empty
    bool failSettings = false, failMask = false, failTimeouts = false;
    int failWriteAt = -1;                    // index of the write that fails
    int shortWriteAt = -1;                   // index of the write that moves one byte fewer
    bool failSetDtr = false, failClearDtr = false;
    std::uint64_t* clock = nullptr;          // advanced by the read timeout on every empty read
    std::uint64_t msPerDataRead = 0;         // and by this on every read that delivers bytes
};

class FakeSerialPort : public SerialPort {
public:
    FakeSerialPort(SerialScript* script, std::vector<SerialCall>* calls) : s_(script), calls_(calls) {}

    bool Open(const std::wstring& name) override {
        calls_->push_back({"open", {}, name});
        open_ = s_->present.count(name) != 0;
        if (open_) ++opens;
        return open_;
    }
    bool IsOpen() const override { return open_; }
    void Close() override {
        calls_->push_back({"close", {}, {}});
        open_ = false;
        ++closes;
    }
    bool SetLineSettings(const SerialLineSettings& settings) override {
        calls_->push_back({"settings", {}, {}});
        lastSettings = settings;
        return !s_->failSettings;
    }
    bool SetEventMask(std::uint32_t mask) override {
        calls_->push_back({"mask", {}, {}});
        lastMask = mask;
        return !s_->failMask;
    }
    bool SetTimeouts(const SerialTimeouts& timeouts) override {
        calls_->push_back({"timeouts", {}, {}});
        lastTimeouts = timeouts;
        return !s_->failTimeouts;
    }
    bool SetDtr() override {
        calls_->push_back({"dtr+", {}, {}});
        return !s_->failSetDtr;
    }
    bool ClearDtr() override {
        calls_->push_back({"dtr-", {}, {}});
        return !s_->failClearDtr;
    }
    bool WaitEvent(std::uint32_t* events) override {
        calls_->push_back({"wait", {}, {}});
        bool ok = true;
        if (!s_->waits.empty()) {
            ok = s_->waits.front();
            s_->waits.pop_front();
        }
        *events = ok ? 1u : 0u;
        return ok;
    }
    bool ReadBytes(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) override {
        calls_->push_back({"read", {}, {}});
        *done = 0;
        if (!s_->readFails.empty()) {
            const bool fail = s_->readFails.front();
            s_->readFails.pop_front();
            if (fail) return false;
        }
        if (s_->reads.empty() || s_->reads.front().empty()) {
            if (!s_->reads.empty()) s_->reads.pop_front();
            if (s_->clock != nullptr) *s_->clock += 5000;
            return true;
        }
        auto& run = s_->reads.front();
        const std::uint32_t n = count < run.size() ? count : static_cast<std::uint32_t>(run.size());
        std::copy(run.begin(), run.begin() + n, buffer);
        run.erase(run.begin(), run.begin() + n);
        if (run.empty()) s_->reads.pop_front();
        *done = n;
        if (s_->clock != nullptr) *s_->clock += s_->msPerDataRead;
        return true;
    }
    bool WriteBytes(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) override {
        const int index = writes++;
        calls_->push_back({"write", std::vector<std::uint8_t>(buffer, buffer + count), {}});
        if (index == s_->failWriteAt) {
            *done = 0;
            return false;
        }
        *done = index == s_->shortWriteAt ? count - 1 : count;
        return true;
    }

    int opens = 0, closes = 0, writes = 0;
    SerialLineSettings lastSettings;
    std::uint32_t lastMask = 0;
    SerialTimeouts lastTimeouts;

private:
    SerialScript* s_;
    std::vector<SerialCall>* calls_;
    bool open_ = false;
};

}  // namespace flashwise::test
