// winusb.dll for Wine: the WinUSB calls of the boot-loader link, carried to the
// bridge process over 127.0.0.1 (sim/bridge/FRAMING.md). The bridge's address comes
// from FLASHWISE_BOOTLOADER ("PORT" or "127.0.0.1:PORT"); without it no device
// initialises. Like the probing double it replaces, it records its own loading in the
// file FLASHWISE_PROBE_LOG names.
//
// One interface: bulk OUT pipe 0x01 and bulk IN pipe 0x81, 512-byte packets. Vendor
// request 0x22 (value 0 or 1) is the line state; any other control request stalls.
// Overlapped transfers complete by filling the OVERLAPPED's status and count and
// setting its event, answering "pending" (997) as WinUSB does, so GetOverlappedResult
// works. A bulk IN read with nothing waiting stays pending: a worker asks the bridge
// again every few milliseconds until data, a zero-length packet or the device's end,
// or until WinUsb_Free or WinUsb_AbortPipe on the IN pipe cancels it.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sim/bridge/BridgeClient.h"

using flashwise::bridge::BridgeClient;
using flashwise::bridge::Message;
using flashwise::bridge::MsgType;

namespace {

constexpr UCHAR kOutPipe = 0x01;
constexpr UCHAR kInPipe = 0x81;
constexpr USHORT kPacketSize = 512;
constexpr DWORD kPollMs = 5;
constexpr LONG kStatusSuccess = 0;
constexpr LONG kStatusPending = 0x103;
constexpr LONG kStatusCancelled = static_cast<LONG>(0xC0000120);
constexpr LONG kStatusNotConnected = static_cast<LONG>(0xC000009D);

#pragma pack(push, 1)
struct SetupPacket {
    UCHAR RequestType;
    UCHAR Request;
    USHORT Value;
    USHORT Index;
    USHORT Length;
};
struct InterfaceDescriptor {
    UCHAR bLength;
    UCHAR bDescriptorType;
    UCHAR bInterfaceNumber;
    UCHAR bAlternateSetting;
    UCHAR bNumEndpoints;
    UCHAR bInterfaceClass;
    UCHAR bInterfaceSubClass;
    UCHAR bInterfaceProtocol;
    UCHAR iInterface;
};
#pragma pack(pop)
static_assert(sizeof(SetupPacket) == 8, "WINUSB_SETUP_PACKET");
static_assert(sizeof(InterfaceDescriptor) == 9, "USB_INTERFACE_DESCRIPTOR");

struct PipeInformation {
    int PipeType;  // USBD_PIPE_TYPE
    UCHAR PipeId;
    USHORT MaximumPacketSize;
    UCHAR Interval;
};
static_assert(sizeof(PipeInformation) == 12, "WINUSB_PIPE_INFORMATION");

struct PendingRead {
    HANDLE thread = nullptr;
    UCHAR* buffer = nullptr;
    ULONG length = 0;
    OVERLAPPED* overlapped = nullptr;
    std::atomic<bool> cancel{false};
};

struct Interface {
    HANDLE device = INVALID_HANDLE_VALUE;
    BridgeClient client;
    PendingRead pending;
};

void Complete(OVERLAPPED* o, LONG status, ULONG count) {
    o->InternalHigh = count;
    o->Internal = static_cast<ULONG_PTR>(static_cast<ULONG>(status));
    if (o->hEvent != nullptr) SetEvent(o->hEvent);
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// Ends a finished or cancelled read's worker so the next read can start.
void JoinPending(Interface* iface, bool cancel) {
    if (iface->pending.thread == nullptr) return;
    if (cancel) iface->pending.cancel = true;
    WaitForSingleObject(iface->pending.thread, INFINITE);
    CloseHandle(iface->pending.thread);
    iface->pending.thread = nullptr;
    iface->pending.cancel = false;
}

// One ask of the bridge for a bulk IN transfer: true when it is over (with its
// status and count), false when nothing is waiting yet.
bool TryRead(Interface* iface, UCHAR* buffer, ULONG length, LONG* status, ULONG* count) {
    Message answer;
    const std::uint32_t max = length > flashwise::bridge::kMaxPayload ? flashwise::bridge::kMaxPayload : length;
    *count = 0;
    if (!iface->client.Request(MsgType::Read, flashwise::bridge::EncodeWord(max), &answer)) {
        *status = kStatusNotConnected;
        return true;
    }
    switch (answer.type) {
        case MsgType::Data:
            if (answer.payload.size() > length) {
                *status = kStatusNotConnected;
                return true;
            }
            std::memcpy(buffer, answer.payload.data(), answer.payload.size());
            *count = static_cast<ULONG>(answer.payload.size());
            *status = kStatusSuccess;
            return true;
        case MsgType::Zlp:
            *status = kStatusSuccess;
            return true;
        case MsgType::Nothing: return false;
        default: *status = kStatusNotConnected; return true;
    }
}

DWORD WINAPI PendingReadWorker(void* context) {
    auto* iface = static_cast<Interface*>(context);
    PendingRead& p = iface->pending;
    LONG status = kStatusCancelled;
    ULONG count = 0;
    while (!p.cancel) {
        if (TryRead(iface, p.buffer, p.length, &status, &count)) break;
        status = kStatusCancelled;
        Sleep(kPollMs);
    }
    Complete(p.overlapped, status, count);
    return 0;
}

void RecordLoading(HINSTANCE self) {
    wchar_t log[MAX_PATH];
    wchar_t path[MAX_PATH];
    char line[3 * MAX_PATH + 2];
    DWORD length = GetEnvironmentVariableW(L"FLASHWISE_PROBE_LOG", log, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(length), line,
                                    static_cast<int>(sizeof line) - 2, nullptr, nullptr);
    if (bytes <= 0) return;
    line[bytes++] = '\n';
    HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(bytes), &written, nullptr);
    CloseHandle(file);
}

bool BridgePort(std::uint16_t* port) {
    char text[64];
    const DWORD n = GetEnvironmentVariableA("FLASHWISE_BOOTLOADER", text, sizeof text);
    if (n == 0 || n >= sizeof text) return false;
    return flashwise::bridge::ParseBridgeAddress(std::string(text, n), port);
}

}  // namespace

extern "C" {

__declspec(dllexport) BOOL WINAPI WinUsb_Initialize(HANDLE device, void** interfaceHandle) {
    if (interfaceHandle == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *interfaceHandle = nullptr;
    if (device == nullptr || device == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
    std::uint16_t port = 0;
    if (!BridgePort(&port)) return Fail(ERROR_DEVICE_NOT_CONNECTED);
    auto* iface = new Interface;
    iface->device = device;
    if (!iface->client.Connect(port, flashwise::bridge::kTransportWinUsb)) {
        delete iface;
        return Fail(ERROR_DEVICE_NOT_CONNECTED);
    }
    *interfaceHandle = iface;
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI WinUsb_Free(void* interfaceHandle) {
    auto* iface = static_cast<Interface*>(interfaceHandle);
    if (iface == nullptr) return Fail(ERROR_INVALID_HANDLE);
    JoinPending(iface, true);
    iface->client.Disconnect();
    delete iface;
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI WinUsb_QueryInterfaceSettings(void* interfaceHandle, UCHAR alternate,
                                                                InterfaceDescriptor* descriptor) {
    if (interfaceHandle == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (descriptor == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (alternate != 0) return Fail(ERROR_NO_MORE_ITEMS);
    std::memset(descriptor, 0, sizeof *descriptor);
    descriptor->bLength = 9;
    descriptor->bDescriptorType = 4;
    descriptor->bNumEndpoints = 2;
    descriptor->bInterfaceClass = 0xFF;
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI WinUsb_QueryPipe(void* interfaceHandle, UCHAR alternate, UCHAR index,
                                                   PipeInformation* pipe) {
    if (interfaceHandle == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (pipe == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (alternate != 0 || index > 1) return Fail(ERROR_NO_MORE_ITEMS);
    std::memset(pipe, 0, sizeof *pipe);
    pipe->PipeType = 2;  // bulk
    pipe->PipeId = index == 0 ? kOutPipe : kInPipe;
    pipe->MaximumPacketSize = kPacketSize;
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI WinUsb_ControlTransfer(void* interfaceHandle, SetupPacket setup, UCHAR* buffer,
                                                         ULONG bufferLength, ULONG* transferred,
                                                         OVERLAPPED* overlapped) {
    (void)buffer;
    auto* iface = static_cast<Interface*>(interfaceHandle);
    if (iface == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (transferred != nullptr) *transferred = 0;
    if (setup.RequestType != 0x40 || setup.Request != 0x22 || setup.Value > 1 || setup.Length != 0 ||
        bufferLength != 0) {
        return Fail(ERROR_GEN_FAILURE);  // the device stalls requests it does not know
    }
    Message answer;
    const bool sent = iface->client.Request(MsgType::Line, {static_cast<std::uint8_t>(setup.Value)}, &answer);
    const bool ok = sent && answer.type == MsgType::Ok;
    if (overlapped != nullptr) {
        Complete(overlapped, ok ? kStatusSuccess : kStatusNotConnected, 0);
        return Fail(ERROR_IO_PENDING);
    }
    return ok ? TRUE : Fail(ERROR_DEVICE_NOT_CONNECTED);
}

__declspec(dllexport) BOOL WINAPI WinUsb_WritePipe(void* interfaceHandle, UCHAR pipeId, UCHAR* buffer, ULONG length,
                                                   ULONG* transferred, OVERLAPPED* overlapped) {
    auto* iface = static_cast<Interface*>(interfaceHandle);
    if (iface == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (transferred != nullptr) *transferred = 0;
    if (pipeId != kOutPipe) return Fail(ERROR_INVALID_PARAMETER);
    if (buffer == nullptr && length != 0) return Fail(ERROR_INVALID_PARAMETER);
    bool ok = true;
    ULONG sent = 0;
    // A zero-length write is a zero-length packet: the bridge hears an empty write.
    do {
        const ULONG piece = length - sent > flashwise::bridge::kMaxPayload ? flashwise::bridge::kMaxPayload
                                                                           : length - sent;
        Message answer;
        ok = iface->client.Request(MsgType::Write, std::vector<std::uint8_t>(buffer + sent, buffer + sent + piece),
                                   &answer) &&
             answer.type == MsgType::Ok;
        if (ok) sent += piece;
    } while (ok && sent < length);
    if (overlapped != nullptr) {
        Complete(overlapped, ok ? kStatusSuccess : kStatusNotConnected, sent);
        return Fail(ERROR_IO_PENDING);
    }
    if (transferred != nullptr) *transferred = sent;
    return ok ? TRUE : Fail(ERROR_DEVICE_NOT_CONNECTED);
}

__declspec(dllexport) BOOL WINAPI WinUsb_ReadPipe(void* interfaceHandle, UCHAR pipeId, UCHAR* buffer, ULONG length,
                                                  ULONG* transferred, OVERLAPPED* overlapped) {
    auto* iface = static_cast<Interface*>(interfaceHandle);
    if (iface == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (transferred != nullptr) *transferred = 0;
    if (pipeId != kInPipe) return Fail(ERROR_INVALID_PARAMETER);
    if (buffer == nullptr && length != 0) return Fail(ERROR_INVALID_PARAMETER);
    JoinPending(iface, false);  // a new read means the last one was waited for
    LONG status = kStatusSuccess;
    ULONG count = 0;
    if (overlapped == nullptr) {
        // Synchronous: wait here as the pipe would.
        while (!TryRead(iface, buffer, length, &status, &count)) Sleep(kPollMs);
        if (status != kStatusSuccess) return Fail(ERROR_DEVICE_NOT_CONNECTED);
        if (transferred != nullptr) *transferred = count;
        return TRUE;
    }
    if (TryRead(iface, buffer, length, &status, &count)) {
        Complete(overlapped, status, count);
        return Fail(ERROR_IO_PENDING);
    }
    overlapped->Internal = static_cast<ULONG_PTR>(kStatusPending);
    overlapped->InternalHigh = 0;
    if (overlapped->hEvent != nullptr) ResetEvent(overlapped->hEvent);
    PendingRead& p = iface->pending;
    p.buffer = buffer;
    p.length = length;
    p.overlapped = overlapped;
    p.cancel = false;
    p.thread = CreateThread(nullptr, 0, PendingReadWorker, iface, 0, nullptr);
    if (p.thread == nullptr) {
        Complete(overlapped, kStatusNotConnected, 0);
    }
    return Fail(ERROR_IO_PENDING);
}

__declspec(dllexport) BOOL WINAPI WinUsb_GetOverlappedResult(void* interfaceHandle, OVERLAPPED* overlapped,
                                                             ULONG* transferred, BOOL wait) {
    auto* iface = static_cast<Interface*>(interfaceHandle);
    if (iface == nullptr || overlapped == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    DWORD n = 0;
    const BOOL ok = GetOverlappedResult(iface->device, overlapped, &n, wait);
    if (transferred != nullptr) *transferred = n;
    return ok;
}

__declspec(dllexport) BOOL WINAPI WinUsb_AbortPipe(void* interfaceHandle, UCHAR pipeId) {
    auto* iface = static_cast<Interface*>(interfaceHandle);
    if (iface == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (pipeId == kInPipe) JoinPending(iface, true);
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI WinUsb_FlushPipe(void* interfaceHandle, UCHAR pipeId) {
    (void)pipeId;
    return interfaceHandle != nullptr ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

__declspec(dllexport) BOOL WINAPI WinUsb_ResetPipe(void* interfaceHandle, UCHAR pipeId) {
    (void)pipeId;
    return interfaceHandle != nullptr ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

__declspec(dllexport) BOOL WINAPI WinUsb_SetPipePolicy(void* interfaceHandle, UCHAR pipeId, ULONG policy,
                                                       ULONG length, void* value) {
    (void)pipeId;
    (void)policy;
    (void)length;
    (void)value;
    return interfaceHandle != nullptr ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void* reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) RecordLoading(self);
    return TRUE;
}

}  // extern "C"
