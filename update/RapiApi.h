#pragma once
// The desktop synchronisation software's Remote API as the update logic calls it: one
// operation per library call, with the library's results passed through unchanged.
// The Windows adapter binds the library on first use; tests hand in a fake.

#include <cstdint>
#include <memory>
#include <string_view>

#include "update/Waits.h"

namespace flashwise::update {

using RapiResult = std::int32_t;  // the library's result codes
constexpr RapiResult kRapiOk = 0;
constexpr RapiResult kRapiFail = static_cast<RapiResult>(0x80004005u);

inline bool RapiSucceeded(RapiResult result) { return result >= 0; }

using RapiHandle = void*;  // a file, process or thread on the phone
using RapiKey = void*;     // a key of the phone's registry

inline RapiHandle InvalidRapiHandle() { return reinterpret_cast<RapiHandle>(~static_cast<std::uintptr_t>(0)); }
// HKEY_LOCAL_MACHINE of the phone (the system's value, sign-extended as the system does).
inline RapiKey RapiLocalMachine() {
    return reinterpret_cast<RapiKey>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000002u)));
}

constexpr std::int32_t kRapiErrorSuccess = 0;
constexpr std::int32_t kRapiErrorMoreData = 234;

// A CeRapiInitEx request: its initialisation record and the event the library signals
// when the attempt ends. The library may still write the record and signal the event
// after the caller has stopped waiting, until the connection is ended; so the request
// must stay alive until CeRapiUninit has returned (RapiConnection sees to that).
class RapiInitRequest {
public:
    virtual ~RapiInitRequest() = default;
    // What CeRapiInitEx itself returned.
    virtual RapiResult CallResult() const = 0;
    // The record's event, for waits that also wake for other things.
    virtual WaitHandle Event() const = 0;
    virtual WaitOutcome Wait(std::uint32_t timeoutMs) = 0;
    // The record's result: how the attempt ended.
    virtual RapiResult Result() const = 0;
};

struct RapiPowerStatus {
    std::uint8_t acLineStatus = 0;
    std::uint8_t batteryFlag = 0;
    std::uint8_t batteryLifePercent = 0;  // 0..100, 255 unknown
};

struct RapiVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    std::uint32_t platformId = 0;
};

class RapiApi {
public:
    virtual ~RapiApi() = default;

    // CeRapiInit: blocks until connected.
    virtual RapiResult Init() = 0;
    // CeRapiInitEx with a record and event of its own; never null.
    virtual std::unique_ptr<RapiInitRequest> InitEx() = 0;
    virtual RapiResult Uninit() = 0;
    virtual std::uint32_t LastError() = 0;

    // Read and write access, no sharing, always create, hidden; InvalidRapiHandle() on failure.
    virtual RapiHandle CreatePhoneFile(std::u16string_view phonePath) = 0;
    virtual bool WritePhoneFile(RapiHandle file, const std::uint8_t* data, std::uint32_t size,
                           std::uint32_t* written) = 0;
    virtual bool SetPhoneEndOfFile(RapiHandle file) = 0;
    virtual bool ClosePhoneHandle(RapiHandle handle) = 0;
    // The program name only: no command line, flags, environment or folder.
    virtual bool StartPhoneProcess(std::u16string_view name, RapiHandle* process, RapiHandle* thread) = 0;

    // Registry calls return the system's error code (0 for success). An empty
    // `subKey` opens `root` itself.
    virtual std::int32_t OpenPhoneKey(RapiKey root, std::u16string_view subKey, RapiKey* key) = 0;
    virtual std::int32_t QueryPhoneValue(RapiKey key, std::u16string_view name, std::uint32_t* type,
                                       std::uint8_t* data, std::uint32_t* size) = 0;
    virtual std::int32_t ClosePhoneKey(RapiKey key) = 0;

    // The record is cleared before the call.
    virtual bool GetPowerStatus(RapiPowerStatus* status, bool refresh) = 0;
    virtual bool GetVersion(RapiVersion* version) = 0;
};

}  // namespace flashwise::update
