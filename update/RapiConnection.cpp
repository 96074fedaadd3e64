#include "update/RapiConnection.h"

#include <utility>

namespace flashwise::update {

RapiConnection::RapiConnection(RapiApi& api, std::unique_ptr<RapiInitRequest> request, RapiResult blockingResult)
    : api_(&api), request_(std::move(request)), blockingResult_(blockingResult) {}

RapiConnection RapiConnection::Request(RapiApi& api) { return RapiConnection(api, api.InitEx(), kRapiOk); }

RapiConnection RapiConnection::Blocking(RapiApi& api) { return RapiConnection(api, nullptr, api.Init()); }

RapiConnection::RapiConnection(RapiConnection&& other) noexcept
    : api_(other.api_),
      request_(std::move(other.request_)),
      blockingResult_(other.blockingResult_),
      ended_(other.ended_),
      endResult_(other.endResult_) {
    other.ended_ = true;
}

RapiConnection::~RapiConnection() { End(); }

bool RapiConnection::Started() const {
    if (request_) return RapiSucceeded(request_->CallResult());
    return blockingResult_ != kRapiFail;
}

WaitOutcome RapiConnection::WaitReady(std::uint32_t timeoutMs) {
    if (!request_ || ended_ || !RapiSucceeded(request_->CallResult())) return WaitOutcome::Failed;
    return request_->Wait(timeoutMs);
}

WaitHandle RapiConnection::ReadyEvent() const { return request_ ? request_->Event() : nullptr; }

RapiResult RapiConnection::Result() const { return request_ ? request_->Result() : blockingResult_; }

RapiResult RapiConnection::End() {
    if (ended_) return endResult_;
    ended_ = true;
    endResult_ = api_->Uninit();
    // Only now may the record and its event go; the outcome stays readable.
    if (request_) blockingResult_ = request_->Result();
    request_.reset();
    return endResult_;
}

}  // namespace flashwise::update
