#include "helpers/DeviceSpy/RadioRevision.h"

#include "helpers/phone/PhonePlatform.h"
#include "helpers/phone/RilApi.h"

namespace flashwise::phone {

namespace {

// The updater reads the registry one second after starting DeviceSpy, so the radio
// gets most of that second and no more.
constexpr DWORD kRadioAnswerBoundMs = 700;

// The answer arrives on the radio layer's thread; it is published before the event.
struct RadioAnswer {
    HANDLE done = nullptr;
    HRESULT answeredId = 0;
    bool ok = false;
    char revision[kRilEquipmentTextLength + 1] = {};
};

RadioAnswer* g_answer = nullptr;

void CALLBACK OnResult(DWORD code, HRESULT commandId, const void* data, DWORD size, DWORD)
{
    RadioAnswer* answer = g_answer;
    if (answer == nullptr)
        return;
    answer->answeredId = commandId;
    if (code == kRilResultOk && data != nullptr && size >= sizeof(RilEquipmentInfo)) {
        const auto* info = static_cast<const RilEquipmentInfo*>(data);
        if (info->params & kRilParamRevision) {
            for (DWORD i = 0; i < kRilEquipmentTextLength && info->revision[i] != '\0'; ++i)
                answer->revision[i] = info->revision[i];
            answer->ok = true;
        }
    }
    SetEvent(answer->done);
}

void CALLBACK OnNotify(DWORD, const void*, DWORD, DWORD) {}

}  // namespace

std::optional<std::string> QueryRadioRevision()
{
    HMODULE ril = LoadPhoneLibrary(L"RIL.DLL");
    auto initialize = reinterpret_cast<RilInitializeFn>(FindPhoneExport(ril, "RIL_Initialize"));
    auto getInfo = reinterpret_cast<RilGetEquipmentInfoFn>(FindPhoneExport(ril, "RIL_GetEquipmentInfo"));
    auto deinitialize = reinterpret_cast<RilDeinitializeFn>(FindPhoneExport(ril, "RIL_Deinitialize"));
    if (!initialize || !getInfo || !deinitialize)
        return std::nullopt;

    static RadioAnswer answer;
    answer.done = CreateEventW(nullptr, TRUE, FALSE, L"CallBackEvt");
    if (answer.done == nullptr)
        return std::nullopt;
    ResetEvent(answer.done);

    std::optional<std::string> revision;
    HRIL handle = nullptr;
    if (SUCCEEDED(initialize(1, OnResult, OnNotify, 0, 0, &handle))) {
        g_answer = &answer;
        // The layer may answer on its own thread before this call returns, so the
        // answer's id is compared only after the wait.
        const HRESULT commandId = getInfo(handle);
        if (SUCCEEDED(commandId) &&
            WaitForSingleObject(answer.done, kRadioAnswerBoundMs) == WAIT_OBJECT_0 &&
            answer.answeredId == commandId && answer.ok)
            revision = std::string(answer.revision);
        deinitialize(handle);
        g_answer = nullptr;
    }
    CloseHandle(answer.done);
    return revision;
}

}  // namespace flashwise::phone
