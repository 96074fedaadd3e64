#pragma once
// The boot-loader link as the download driver sees it. CConnManager carries the
// protocol over the USB serial host device; CConnManagerVista (derived) over WinUSB.

#include <cstddef>
#include <cstdint>

namespace flashwise {

class CFirmwareImage;

constexpr std::size_t kRequestBlockSize = 72;
constexpr std::size_t kSectionHeaderSize = 256;
constexpr std::size_t kStatusRecordSize = 20;

class CConnManager {
public:
    virtual ~CConnManager();
    virtual void EndTransfer();
    virtual bool Open();
    virtual bool Read(int count, std::uint8_t* buffer);
    virtual bool PrepareSection(CFirmwareImage* image, std::uint8_t* request,
                                const std::uint8_t* header, int code);
    virtual bool SendSection(CFirmwareImage* image, std::uint8_t* request,
                             const std::uint8_t* header, int code);

protected:
    CConnManager();  // a link with no transport, for derived links and test doubles
};

}  // namespace flashwise
