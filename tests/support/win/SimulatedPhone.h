#pragma once
// A simulated phone set up for one test: a fresh folder with the state file, the
// phone's \windows folder holding its system libraries, and FLASHWISE_PHONE pointing at
// it for this process and whatever the phone starts.

#include <windows.h>

#include <string>

namespace flashwise::winetest {

class SimulatedPhone {
public:
    // phoneIni: the state file's text.
    SimulatedPhone(const std::string& name, const std::string& phoneIni);
    ~SimulatedPhone();

    bool Ready() const { return ready_; }
    const std::wstring& Folder() const { return folder_; }
    std::wstring FileOnDesktop(const std::wstring& phonePath) const;  // "\\windows\\x" -> desktop path
    std::string StateText() const;
    // Changes one key of the state the way the phone's processes do (under its mutex).
    bool Set(const std::string& section, const std::string& key, const std::string& value) const;
    std::string WorldLogText() const;

private:
    std::wstring folder_;
    bool ready_ = false;
};

// The synchronisation software's library, loaded the way the updater loads it.
class RapiLibrary {
public:
    RapiLibrary();
    ~RapiLibrary();
    bool Loaded() const { return module_ != nullptr; }
    template <typename Fn>
    Fn Get(const char* name) const
    {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }

private:
    HMODULE module_ = nullptr;
};

}  // namespace flashwise::winetest
