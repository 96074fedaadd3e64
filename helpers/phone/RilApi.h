#pragma once
// The part of the phone's radio interface layer ("RIL.DLL") that DeviceSpy uses.

#include <windows.h>

namespace flashwise::phone {

using HRIL = HANDLE;
using RilResultCallback = void(CALLBACK*)(DWORD code, HRESULT commandId, const void* data,
                                          DWORD size, DWORD param);
using RilNotifyCallback = void(CALLBACK*)(DWORD code, const void* data, DWORD size, DWORD param);

using RilInitializeFn = HRESULT(WINAPI*)(DWORD index, RilResultCallback onResult,
                                        RilNotifyCallback onNotify, DWORD notificationClasses,
                                        DWORD param, HRIL* ril);
using RilGetEquipmentInfoFn = HRESULT(WINAPI*)(HRIL ril);
using RilDeinitializeFn = HRESULT(WINAPI*)(HRIL ril);

constexpr DWORD kRilResultOk = 0x00000001;
constexpr DWORD kRilEquipmentTextLength = 128;

struct RilEquipmentInfo {
    DWORD size;
    DWORD params;
    char manufacturer[kRilEquipmentTextLength];
    char model[kRilEquipmentTextLength];
    char revision[kRilEquipmentTextLength];
    char serialNumber[kRilEquipmentTextLength];
};

constexpr DWORD kRilParamRevision = 0x00000004;

}  // namespace flashwise::phone
