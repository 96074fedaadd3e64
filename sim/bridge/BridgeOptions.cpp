#include "sim/bridge/BridgeOptions.h"

#include <cerrno>
#include <cstdlib>
#include <map>

namespace flashwise::bridge {

namespace {

bool ParseNumber(const std::string& text, std::uint64_t max, std::uint64_t* value) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0' || v > max) return false;
    *value = v;
    return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string::size_type at = 0;
    while (true) {
        const auto next = text.find(separator, at);
        parts.push_back(text.substr(at, next == std::string::npos ? std::string::npos : next - at));
        if (next == std::string::npos) break;
        at = next + 1;
    }
    return parts;
}

}  // namespace

bool ParseFault(const std::string& text, sim::DeviceFault* fault, std::string* error) {
    static const std::map<std::string, sim::Misbehaviour> kWhat = {
        {"silent", sim::Misbehaviour::Silent},
        {"shift-record", sim::Misbehaviour::ShiftRecord},
        {"result-code", sim::Misbehaviour::ResultCode},
        {"readiness-word", sim::Misbehaviour::ReadinessWord},
        {"unknown-results", sim::Misbehaviour::UnknownResults},
        {"zero-length-packets", sim::Misbehaviour::ZeroLengthPackets},
        {"reject-checksum", sim::Misbehaviour::RejectChecksum},
        {"vanish", sim::Misbehaviour::Vanish},
    };
    static const std::map<std::string, sim::Step> kStep = {
        {"announce", sim::Step::Announce}, {"request", sim::Step::Request},
        {"header", sim::Step::Header},     {"data", sim::Step::Data},
        {"end-of-transfer", sim::Step::EndOfTransfer},
    };
    const auto parts = Split(text, ':');
    if (parts.size() < 2 || parts.size() > 5) {
        *error = "a fault is what:step[:unit[:value[:count]]], not '" + text + "'";
        return false;
    }
    const auto what = kWhat.find(parts[0]);
    const auto step = kStep.find(parts[1]);
    if (what == kWhat.end()) {
        *error = "unknown misbehaviour '" + parts[0] + "'";
        return false;
    }
    if (step == kStep.end()) {
        *error = "unknown step '" + parts[1] + "'";
        return false;
    }
    sim::DeviceFault f;
    f.what = what->second;
    f.step = step->second;
    std::uint64_t n = 0;
    if (parts.size() > 2) {
        if (!ParseNumber(parts[2], 1000000, &n)) {
            *error = "bad unit '" + parts[2] + "' in fault '" + text + "'";
            return false;
        }
        f.unit = static_cast<int>(n);
    }
    if (parts.size() > 3) {
        if (!ParseNumber(parts[3], 0xFFFFFFFFull, &n)) {
            *error = "bad value '" + parts[3] + "' in fault '" + text + "'";
            return false;
        }
        f.value = static_cast<std::uint32_t>(n);
    }
    if (parts.size() > 4) {
        if (!ParseNumber(parts[4], 0xFFFFFFFFull, &n)) {
            *error = "bad count '" + parts[4] + "' in fault '" + text + "'";
            return false;
        }
        f.count = static_cast<std::uint32_t>(n);
    }
    *fault = f;
    return true;
}

bool ParseBridgeOptions(const std::vector<std::string>& args, BridgeOptions* options, std::string* error) {
    BridgeOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) {
                *error = a + " needs a value";
                return false;
            }
            *out = args[++i];
            return true;
        };
        auto number = [&](std::uint64_t max, std::uint64_t* out) {
            std::string text;
            if (!value(&text)) return false;
            if (!ParseNumber(text, max, out)) {
                *error = "bad value '" + text + "' for " + a;
                return false;
            }
            return true;
        };
        std::string text;
        std::uint64_t n = 0;
        if (a == "--transport") {
            if (!value(&text)) return false;
            if (text == "serial") {
                o.transport = sim::Transport::Serial;
            } else if (text == "winusb") {
                o.transport = sim::Transport::WinUsb;
            } else {
                *error = "the transport is serial or winusb, not '" + text + "'";
                return false;
            }
        } else if (a == "--port") {
            if (!number(65535, &n)) return false;
            o.port = static_cast<std::uint16_t>(n);
        } else if (a == "--port-file") {
            if (!value(&o.portFile)) return false;
        } else if (a == "--out") {
            if (!value(&o.outFolder)) return false;
        } else if (a == "--idle-timeout-ms") {
            if (!number(24ull * 3600 * 1000, &n)) return false;
            if (n == 0) {
                *error = "the idle timeout must be above 0: the bridge always ends by itself";
                return false;
            }
            o.idleTimeoutMs = static_cast<std::uint32_t>(n);
        } else if (a == "--progress-records") {
            if (!number(1000, &n)) return false;
            o.progressRecords = static_cast<int>(n);
        } else if (a == "--digest") {
            o.digest = true;
        } else if (a == "--capture") {
            o.capture = true;
        } else if (a == "--hex-limit") {
            if (!number(1u << 30, &n)) return false;
            o.hexLimit = static_cast<std::size_t>(n);
        } else if (a == "--phone") {
            if (!value(&o.phoneFolder)) return false;
            if (o.phoneFolder.empty()) {
                *error = "--phone needs the phone's folder";
                return false;
            }
        } else if (a == "--write-rate") {
            if (!number(1u << 30, &n)) return false;
            o.writeBytesPerSecond = static_cast<std::uint32_t>(n);
        } else if (a == "--fault") {
            if (!value(&text)) return false;
            sim::DeviceFault f;
            if (!ParseFault(text, &f, error)) return false;
            o.faults.push_back(f);
        } else {
            *error = "unknown argument '" + a + "'";
            return false;
        }
    }
    if (o.outFolder.empty()) {
        *error = "--out is required: the folder for the flash store and the capture";
        return false;
    }
    *options = o;
    return true;
}

const char* BridgeUsage() {
    return "usage: BootLoaderBridge --out DIR [--transport serial|winusb] [--port N] [--port-file FILE]\n"
           "                        [--idle-timeout-ms N] [--progress-records N] [--digest] [--capture]\n"
           "                        [--hex-limit N] [--fault what:step[:unit[:value[:count]]]]...\n"
           "                        [--phone FOLDER]   the device opens while the phone there runs its boot loader\n"
           "                                           and its desktop does not hold it\n"
           "                        [--write-rate BYTES_PER_S]   writes take as long as a phone's flash would\n";
}

}  // namespace flashwise::bridge
