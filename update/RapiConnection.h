#pragma once
// One Remote API connection, opened for one use and ended with CeRapiUninit on every
// path: explicitly with End(), or when the object goes. A CeRapiInitEx request's record
// and event belong to the connection and are released only after the uninit, since the
// library may write and signal them until then.

#include <cstdint>
#include <memory>

#include "update/RapiApi.h"

namespace flashwise::update {

class RapiConnection {
public:
    // CeRapiInitEx; the caller waits for ReadyEvent() as it sees fit.
    static RapiConnection Request(RapiApi& api);
    // CeRapiInit, which blocks until connected or refused.
    static RapiConnection Blocking(RapiApi& api);

    RapiConnection(RapiConnection&& other) noexcept;
    RapiConnection& operator=(RapiConnection&&) = delete;
    RapiConnection(const RapiConnection&) = delete;
    ~RapiConnection();

    // Request: CeRapiInitEx accepted the request. Blocking: CeRapiInit's result was not E_FAIL.
    bool Started() const;
    // Request only: the wait for the record's event; Failed for a request not started.
    WaitOutcome WaitReady(std::uint32_t timeoutMs);
    WaitHandle ReadyEvent() const;
    // Request: the record's result. Blocking: what CeRapiInit returned.
    RapiResult Result() const;

    // CeRapiUninit, once; later calls return what the first one did.
    RapiResult End();
    bool Ended() const { return ended_; }

private:
    RapiConnection(RapiApi& api, std::unique_ptr<RapiInitRequest> request, RapiResult blockingResult);

    RapiApi* api_;
    std::unique_ptr<RapiInitRequest> request_;
    RapiResult blockingResult_;
    bool ended_ = false;
    RapiResult endResult_ = kRapiOk;
};

}  // namespace flashwise::update
