#pragma once
// Where the simulated phone lives and how its processes share it: the folder named by
// the environment variable FLASHWISE_PHONE (default C:\flashwise-phone) holds the
// state file "phone.ini" and the phone's files under "files". The Remote API double,
// the phone's libraries and the helpers on the phone all read and change the state
// file under one named mutex, re-reading it for every operation.

#include <windows.h>

#include <optional>
#include <string>

#include "sim/phone/IniDocument.h"
#include "sim/phone/PhoneSettings.h"

namespace flashwise::simphone {

std::wstring PhoneFolder();
std::wstring StateFilePath();
std::wstring PhoneFilesFolder();

std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);

// The desktop path of a file on the phone; nullopt for a path the phone would refuse.
std::optional<std::wstring> DesktopPathOfPhoneFile(const std::wstring& phonePath);

class PhoneStore {
public:
    // Takes the store's mutex (bounded wait); Ok() is false when it was not had.
    PhoneStore();
    ~PhoneStore();
    PhoneStore(const PhoneStore&) = delete;
    PhoneStore& operator=(const PhoneStore&) = delete;

    bool Ok() const { return ok_; }
    // The state as loaded; a missing file is a phone with every default.
    IniDocument& Document() { return document_; }
    std::optional<PhoneSettings> Settings() const { return ReadPhoneSettings(document_); }
    bool Save();

private:
    HANDLE mutex_ = nullptr;
    bool locked_ = false;
    bool ok_ = false;
    IniDocument document_;
};

// The phone's settings as they are now; nullopt when the state cannot be read.
std::optional<PhoneSettings> CurrentPhoneSettings();

}  // namespace flashwise::simphone
