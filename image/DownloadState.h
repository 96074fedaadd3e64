#pragma once
// What a download pass shares between the download thread and the rest of the
// agent: the finished flag and the completed fraction, each behind its own lock,
// plus the driver's section-header work area. The agent owns one of these for its
// whole life; the two locks are never held together.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "image/SectionHeaderBuilder.h"

namespace flashwise {

class DownloadState {
public:
    static constexpr std::size_t kSectionHeaderSize = 256;

    DownloadState() = default;
    DownloadState(const DownloadState&) = delete;
    DownloadState& operator=(const DownloadState&) = delete;

    // Start of a pass: flag down, nothing completed, the divisor set to the image length.
    void BeginPass(std::uint64_t imageLength) {
        SetFinished(false);
        imageLength_ = static_cast<double>(imageLength);
        SetCompleted(0.0);
    }

    bool IsFinished() const {
        std::lock_guard<std::mutex> hold(statusLock_);
        return finished_ != 0;
    }
    void SetFinished(bool finished) {
        std::lock_guard<std::mutex> hold(statusLock_);
        finished_ = finished ? 1u : 0u;
    }

    double Completed() const {
        std::lock_guard<std::mutex> hold(progressLock_);
        return completed_;
    }
    void SetCompleted(double fraction) {
        std::lock_guard<std::mutex> hold(progressLock_);
        completed_ = fraction;
    }
    // Adds bytes / image length; an image length of 0 leaves the fraction as it is.
    void AddCompletedBytes(std::uint32_t bytes) {
        const double share = imageLength_ > 0.0 ? static_cast<double>(bytes) / imageLength_ : 0.0;
        std::lock_guard<std::mutex> hold(progressLock_);
        completed_ += share;
    }

    // Units the boot loader accepted in this pass; the driver counts them.
    std::uint32_t UnitsWritten() const { return unitsWritten_.load(); }
    void SetUnitsWritten(std::uint32_t count) { unitsWritten_.store(count); }

    double ImageLength() const { return imageLength_; }
    void SetImageLength(double length) { imageLength_ = length; }

    // The driver's work area: rebuilt before every unit, handed to both link calls.
    std::array<std::uint8_t, kSectionHeaderSize>& SectionHeader() { return sectionHeader_; }

    // Created by each driver run; kept after a failure, dropped after a success.
    std::unique_ptr<SectionHeaderBuilder>& HeaderBuilder() { return headerBuilder_; }

private:
    mutable std::mutex statusLock_;
    std::uint32_t finished_ = 0;
    mutable std::mutex progressLock_;
    double completed_ = 0.0;
    double imageLength_ = 0.0;
    std::atomic<std::uint32_t> unitsWritten_{0};
    std::array<std::uint8_t, kSectionHeaderSize> sectionHeader_{};
    std::unique_ptr<SectionHeaderBuilder> headerBuilder_;
};

}  // namespace flashwise
