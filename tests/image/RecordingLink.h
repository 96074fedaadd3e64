#pragma once
// A link double for the driver: records every call with what it was handed, and fails
// the section operation it is told to fail.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image/FirmwareImage.h"
#include "link/ConnManager.h"

namespace flashwise::test {

class RecordingLink : public CConnManager {
public:
    struct Call {
        std::string op;  // "prepare", "send", "end"
        int code = 0;
        CFirmwareImage* image = nullptr;
        std::uint8_t* request = nullptr;
        std::array<std::uint8_t, kSectionHeaderSize> header{};
        std::array<std::uint8_t, kRequestBlockSize> requestOnEntry{};
    };

    std::vector<Call> calls;
    // Fail this operation ("prepare" or "send") of this unit.
    std::string failOp;
    int failCode = 0;
    // Runs inside every section operation, e.g. to look at the unpacked file.
    std::function<void(const Call&)> onSection;

    // The end-of-transfer block goes unless the test says otherwise.
    bool endFails = false;
    bool EndTransfer() override {
        calls.push_back(Call{"end"});
        return !endFails;
    }
    bool Open() override { return true; }
    bool Read(int, std::uint8_t*) override { return false; }
    bool PrepareSection(CFirmwareImage* image, std::uint8_t* request, const std::uint8_t* header,
                        int code) override {
        return Section("prepare", image, request, header, code);
    }
    bool SendSection(CFirmwareImage* image, std::uint8_t* request, const std::uint8_t* header,
                     int code) override {
        return Section("send", image, request, header, code);
    }

    // "prepare 51, send 51, end" style summary of the calls.
    std::string Trace() const {
        std::string out;
        for (const Call& c : calls) {
            if (!out.empty()) out += ", ";
            out += c.op;
            if (c.op == "prepare" || c.op == "send") out += " " + std::to_string(c.code);
        }
        return out;
    }

private:
    bool Section(const char* op, CFirmwareImage* image, std::uint8_t* request, const std::uint8_t* header,
                 int code) {
        Call call{op, code, image, request};
        std::copy(header, header + kSectionHeaderSize, call.header.begin());
        std::copy(request, request + kRequestBlockSize, call.requestOnEntry.begin());
        // Mark the block as a real link would, so a re-zeroed buffer would show.
        request[0] = 0x66;
        calls.push_back(call);
        if (onSection) onSection(calls.back());
        return !(failOp == op && failCode == code);
    }
};

}  // namespace flashwise::test
