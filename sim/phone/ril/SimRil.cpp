// "RIL.DLL" of the simulated phone: the radio answers its equipment information on a
// thread of its own, as the phone's radio layer does, with the revision from the
// phone's state ("radio"); "radio_answers=0" keeps it silent.

#include <windows.h>

#include <cstring>
#include <string>

#include "helpers/phone/RilApi.h"
#include "sim/phone/win/PhoneStore.h"

using namespace flashwise;

namespace {

constexpr DWORD kAnswerThreadBoundMs = 5000;

struct Client {
    phone::RilResultCallback onResult = nullptr;
    DWORD param = 0;
    LONG nextCommand = 0;
    HANDLE answering = nullptr;
};

struct Answer {
    Client* client;
    HRESULT commandId;
};

void CopyText(char (&field)[phone::kRilEquipmentTextLength], const std::string& text)
{
    std::strncpy(field, text.c_str(), sizeof field - 1);
}

DWORD WINAPI AnswerEquipmentInfo(LPVOID parameter)
{
    Answer* answer = static_cast<Answer*>(parameter);
    const auto settings = simphone::CurrentPhoneSettings();
    if (settings && settings->radioAnswers) {
        phone::RilEquipmentInfo info{};
        info.size = sizeof info;
        info.params = 0x1 | 0x2 | phone::kRilParamRevision;
        CopyText(info.manufacturer, "Simulated");
        CopyText(info.model, "Simulated radio");
        CopyText(info.revision, settings->radio);
        answer->client->onResult(phone::kRilResultOk, answer->commandId, &info, sizeof info,
                                 answer->client->param);
    }
    delete answer;
    return 0;
}

}  // namespace

extern "C" {

__declspec(dllexport) HRESULT WINAPI RIL_Initialize(DWORD, phone::RilResultCallback onResult,
                                                    phone::RilNotifyCallback, DWORD, DWORD param,
                                                    phone::HRIL* ril)
{
    if (onResult == nullptr || ril == nullptr)
        return E_INVALIDARG;
    Client* client = new Client;
    client->onResult = onResult;
    client->param = param;
    *ril = client;
    return S_OK;
}

__declspec(dllexport) HRESULT WINAPI RIL_GetEquipmentInfo(phone::HRIL ril)
{
    Client* client = static_cast<Client*>(ril);
    if (client == nullptr)
        return E_INVALIDARG;
    if (client->answering) {
        WaitForSingleObject(client->answering, kAnswerThreadBoundMs);
        CloseHandle(client->answering);
    }
    const HRESULT commandId = InterlockedIncrement(&client->nextCommand);
    Answer* answer = new Answer{client, commandId};
    client->answering = CreateThread(nullptr, 0, AnswerEquipmentInfo, answer, 0, nullptr);
    if (client->answering == nullptr) {
        delete answer;
        return E_FAIL;
    }
    return commandId;
}

__declspec(dllexport) HRESULT WINAPI RIL_Deinitialize(phone::HRIL ril)
{
    Client* client = static_cast<Client*>(ril);
    if (client == nullptr)
        return E_INVALIDARG;
    // A late answer must not reach a client that is gone.
    if (client->answering) {
        if (WaitForSingleObject(client->answering, kAnswerThreadBoundMs) != WAIT_OBJECT_0)
            return E_FAIL;
        CloseHandle(client->answering);
    }
    delete client;
    return S_OK;
}

}  // extern "C"
