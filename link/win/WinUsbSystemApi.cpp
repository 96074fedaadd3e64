#include "link/win/WinUsbSystemApi.h"

#include <setupapi.h>
#include <winusb.h>

#include <cstring>
#include <mutex>
#include <string>

#include "link/win/SystemLibrary.h"

namespace flashwise {

namespace {

// The entry points, bound once per process through the program's one loader of system
// libraries (link/win/SystemLibrary.h).
struct SystemLibraries {
    decltype(&::SetupDiGetClassDevsW) getClassDevs = nullptr;
    decltype(&::SetupDiEnumDeviceInterfaces) enumInterfaces = nullptr;
    decltype(&::SetupDiGetDeviceInterfaceDetailW) getDetail = nullptr;
    decltype(&::SetupDiDestroyDeviceInfoList) destroyList = nullptr;
    decltype(&::WinUsb_Initialize) initialize = nullptr;
    decltype(&::WinUsb_Free) free = nullptr;
    decltype(&::WinUsb_QueryInterfaceSettings) querySettings = nullptr;
    decltype(&::WinUsb_QueryPipe) queryPipe = nullptr;
    decltype(&::WinUsb_ControlTransfer) control = nullptr;
    decltype(&::WinUsb_WritePipe) writePipe = nullptr;
    decltype(&::WinUsb_ReadPipe) readPipe = nullptr;
    bool bound = false;
};

SystemLibraries g_libs;
std::mutex g_bindLock;

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn* fn) {
    *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    return *fn != nullptr;
}

bool BindSystemLibraries() {
    std::lock_guard<std::mutex> lock(g_bindLock);
    if (g_libs.bound) return true;
    HMODULE setupapi = LoadSystemLibrary(L"setupapi.dll");
    HMODULE winusb = LoadSystemLibrary(L"winusb.dll");
    SystemLibraries libs;
    bool ok = setupapi != nullptr && winusb != nullptr;
    ok = ok && Resolve(setupapi, "SetupDiGetClassDevsW", &libs.getClassDevs);
    ok = ok && Resolve(setupapi, "SetupDiEnumDeviceInterfaces", &libs.enumInterfaces);
    ok = ok && Resolve(setupapi, "SetupDiGetDeviceInterfaceDetailW", &libs.getDetail);
    ok = ok && Resolve(setupapi, "SetupDiDestroyDeviceInfoList", &libs.destroyList);
    ok = ok && Resolve(winusb, "WinUsb_Initialize", &libs.initialize);
    ok = ok && Resolve(winusb, "WinUsb_Free", &libs.free);
    ok = ok && Resolve(winusb, "WinUsb_QueryInterfaceSettings", &libs.querySettings);
    ok = ok && Resolve(winusb, "WinUsb_QueryPipe", &libs.queryPipe);
    ok = ok && Resolve(winusb, "WinUsb_ControlTransfer", &libs.control);
    ok = ok && Resolve(winusb, "WinUsb_WritePipe", &libs.writePipe);
    ok = ok && Resolve(winusb, "WinUsb_ReadPipe", &libs.readPipe);
    if (!ok) {
        // Nothing half-bound stays behind; the next Open tries again.
        if (setupapi != nullptr) ::FreeLibrary(setupapi);
        if (winusb != nullptr) ::FreeLibrary(winusb);
        return false;
    }
    libs.bound = true;
    g_libs = libs;
    return true;
}

GUID ToGuid(const DeviceGuid& g) {
    GUID guid;
    static_assert(sizeof guid == sizeof g, "the same 16 bytes");
    std::memcpy(&guid, &g, sizeof guid);
    return guid;
}

SP_DEVICE_INTERFACE_DATA ToSystem(const DeviceInterfaceData& d) {
    SP_DEVICE_INTERFACE_DATA s;
    s.cbSize = d.size;
    s.InterfaceClassGuid = ToGuid(d.classGuid);
    s.Flags = d.flags;
    s.Reserved = static_cast<ULONG_PTR>(d.reserved);
    return s;
}

void FromSystem(const SP_DEVICE_INTERFACE_DATA& s, DeviceInterfaceData* d) {
    std::memcpy(&d->classGuid, &s.InterfaceClassGuid, sizeof d->classGuid);
    d->flags = s.Flags;
    d->reserved = static_cast<std::uintptr_t>(s.Reserved);
}

}  // namespace

WinUsbSystemApi::WinUsbSystemApi() = default;

WinUsbSystemApi::Transfer& WinUsbSystemApi::Begin(Overlapped which, OsHandle event, std::uint32_t length) {
    std::unique_ptr<Transfer>& slot = Slot(which);
    if (slot == nullptr) slot = std::make_unique<Transfer>();
    std::memset(&slot->block, 0, sizeof slot->block);
    slot->block.hEvent = static_cast<HANDLE>(event);
    if (event != nullptr) ::ResetEvent(static_cast<HANDLE>(event));
    slot->bytes.resize(length == 0 ? 1 : length);
    slot->destination = nullptr;
    return *slot;
}

bool WinUsbSystemApi::Bind() { return BindSystemLibraries(); }

OsHandle WinUsbSystemApi::GetClassDevs(const DeviceGuid& guid, std::uint32_t flags) {
    const GUID g = ToGuid(guid);
    const HDEVINFO set = g_libs.getClassDevs(&g, nullptr, nullptr, flags);
    return set == INVALID_HANDLE_VALUE ? InvalidOsHandle() : static_cast<OsHandle>(set);
}

bool WinUsbSystemApi::EnumDeviceInterfaces(OsHandle set, const DeviceGuid& guid, std::uint32_t index,
                                           DeviceInterfaceData* data) {
    const GUID g = ToGuid(guid);
    SP_DEVICE_INTERFACE_DATA s = ToSystem(*data);
    const bool ok = g_libs.enumInterfaces(static_cast<HDEVINFO>(set), nullptr, &g, index, &s) != FALSE;
    FromSystem(s, data);
    return ok;
}

bool WinUsbSystemApi::GetDeviceInterfaceDetail(OsHandle set, DeviceInterfaceData* data, std::uint8_t* detail,
                                               std::uint32_t detailSize, std::uint32_t* requiredSize,
                                               DevInfoData* devInfo) {
    SP_DEVICE_INTERFACE_DATA s = ToSystem(*data);
    SP_DEVINFO_DATA info;
    std::memset(&info, 0, sizeof info);
    if (devInfo != nullptr) info.cbSize = devInfo->size;
    DWORD required = 0;
    const bool ok =
        g_libs.getDetail(static_cast<HDEVINFO>(set), &s, reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(detail),
                         detailSize, requiredSize != nullptr ? &required : nullptr,
                         devInfo != nullptr ? &info : nullptr) != FALSE;
    if (requiredSize != nullptr) *requiredSize = required;
    if (devInfo != nullptr) {
        std::memcpy(&devInfo->classGuid, &info.ClassGuid, sizeof devInfo->classGuid);
        devInfo->devInst = info.DevInst;
        devInfo->reserved = static_cast<std::uintptr_t>(info.Reserved);
    }
    return ok;
}

void WinUsbSystemApi::DestroyDeviceInfoList(OsHandle set) { g_libs.destroyList(static_cast<HDEVINFO>(set)); }

OsHandle WinUsbSystemApi::CreateDeviceFile(const std::u16string& path) {
    const std::wstring name(path.begin(), path.end());
    const HANDLE h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    return h == INVALID_HANDLE_VALUE ? InvalidOsHandle() : static_cast<OsHandle>(h);
}

OsHandle WinUsbSystemApi::CreateManualResetEvent() { return ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }

void WinUsbSystemApi::CloseHandle(OsHandle handle) { ::CloseHandle(static_cast<HANDLE>(handle)); }

std::uint32_t WinUsbSystemApi::LastError() { return ::GetLastError(); }

WaitOutcome WinUsbSystemApi::WaitForEvent(OsHandle event, std::uint32_t timeoutMs) {
    switch (::WaitForSingleObject(static_cast<HANDLE>(event), timeoutMs)) {
        case WAIT_OBJECT_0: return WaitOutcome::Signalled;
        case WAIT_TIMEOUT: return WaitOutcome::TimedOut;
        default: return WaitOutcome::Failed;
    }
}

bool WinUsbSystemApi::GetOverlappedResult(OsHandle device, Overlapped which, std::uint32_t* transferred) {
    *transferred = 0;
    Transfer* t = Slot(which).get();
    if (t == nullptr) return false;
    DWORD n = 0;
    if (::GetOverlappedResult(static_cast<HANDLE>(device), &t->block, &n, FALSE) == FALSE) return false;
    if (n > t->bytes.size()) return false;
    if (t->destination != nullptr) std::memcpy(t->destination, t->bytes.data(), n);
    t->destination = nullptr;
    *transferred = n;
    return true;
}

bool WinUsbSystemApi::CancelTransfer(OsHandle device, Overlapped which, std::uint32_t boundMs) {
    std::unique_ptr<Transfer>& slot = Slot(which);
    if (slot == nullptr) return true;
    slot->destination = nullptr;   // whatever the transfer still brings is not wanted
    ::CancelIo(static_cast<HANDLE>(device));
    if (slot->block.hEvent != nullptr && ::WaitForSingleObject(slot->block.hEvent, boundMs) == WAIT_OBJECT_0) {
        return true;
    }
    // The transfer will not end, and the system may still write into its block and its
    // bytes: both are left to it for good. The next transfer gets a new pair.
    static_cast<void>(slot.release());
    return false;
}

bool WinUsbSystemApi::Initialize(OsHandle device, OsHandle* interfaceHandle) {
    WINUSB_INTERFACE_HANDLE h = nullptr;
    const bool ok = g_libs.initialize(static_cast<HANDLE>(device), &h) != FALSE;
    *interfaceHandle = h;
    return ok;
}

bool WinUsbSystemApi::Free(OsHandle interfaceHandle) { return g_libs.free(interfaceHandle) != FALSE; }

bool WinUsbSystemApi::QueryInterfaceSettings(OsHandle interfaceHandle, std::uint8_t alternate,
                                             UsbInterfaceInfo* info) {
    USB_INTERFACE_DESCRIPTOR descriptor;
    std::memset(&descriptor, 0, sizeof descriptor);
    const bool ok = g_libs.querySettings(interfaceHandle, alternate, &descriptor) != FALSE;
    info->numEndpoints = descriptor.bNumEndpoints;
    return ok;
}

bool WinUsbSystemApi::QueryPipe(OsHandle interfaceHandle, std::uint8_t alternate, std::uint8_t index,
                                UsbPipeInfo* info) {
    WINUSB_PIPE_INFORMATION pipe;
    std::memset(&pipe, 0, sizeof pipe);
    const bool ok = g_libs.queryPipe(interfaceHandle, alternate, index, &pipe) != FALSE;
    info->pipeType = static_cast<std::uint32_t>(pipe.PipeType);
    info->pipeId = pipe.PipeId;
    info->maximumPacketSize = pipe.MaximumPacketSize;
    return ok;
}

bool WinUsbSystemApi::ControlTransfer(OsHandle interfaceHandle, const UsbSetupPacket& setup) {
    WINUSB_SETUP_PACKET packet;
    packet.RequestType = setup.requestType;
    packet.Request = setup.request;
    packet.Value = setup.value;
    packet.Index = setup.index;
    packet.Length = setup.length;
    ULONG n = 0;
    return g_libs.control(interfaceHandle, packet, nullptr, 0, &n, nullptr) != FALSE;
}

bool WinUsbSystemApi::WritePipe(OsHandle interfaceHandle, std::uint8_t pipeId, const std::uint8_t* buffer,
                                std::uint32_t length, std::uint32_t* transferred, Overlapped which, OsHandle event) {
    Transfer& t = Begin(which, event, length);
    if (length != 0) std::memcpy(t.bytes.data(), buffer, length);
    ULONG n = 0;
    const bool ok = g_libs.writePipe(interfaceHandle, pipeId, t.bytes.data(), length, &n, &t.block) != FALSE;
    *transferred = n;
    return ok;
}

bool WinUsbSystemApi::ReadPipe(OsHandle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer,
                               std::uint32_t length, std::uint32_t* transferred, Overlapped which, OsHandle event) {
    Transfer& t = Begin(which, event, length);
    ULONG n = 0;
    const bool ok = g_libs.readPipe(interfaceHandle, pipeId, t.bytes.data(), length, &n, &t.block) != FALSE;
    *transferred = 0;
    if (ok) {
        if (n > length) return false;
        std::memcpy(buffer, t.bytes.data(), n);
        *transferred = n;
    } else {
        // Pending or failed: the bytes reach the caller through GetOverlappedResult.
        t.destination = buffer;
    }
    return ok;
}

}  // namespace flashwise
