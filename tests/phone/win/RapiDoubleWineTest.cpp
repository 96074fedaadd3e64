// The Remote API double and the phone-side helpers on the simulated phone, under Wine:
// the calls the updater makes, with the results it relies on.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "tests/phone/win/SimulatedPhone.h"
#include "tests/phone/win/WineTestSupport.h"
#include "update/win/RapiDeclarations.h"

namespace flashwise::winetest {
namespace {

using rapi::CeOsVersionInfo;
using rapi::CeSystemPowerStatusEx;
using rapi::RapiInit;

constexpr DWORD kHelperBoundMs = 30000;
constexpr DWORD kConnectBoundMs = 3000;
constexpr DWORD kCopyPiece = 8192;
constexpr DWORD kValueBuffer = 4096;

using InitFn = HRESULT(WINAPI*)();
using InitExFn = HRESULT(WINAPI*)(RapiInit*);
using UninitFn = HRESULT(WINAPI*)();
using LastErrorFn = DWORD(WINAPI*)();
using RegOpenFn = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
using RegQueryFn = LONG(WINAPI*)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
using RegCloseFn = LONG(WINAPI*)(HKEY);
using CreateFileFn = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
using WriteFileFn = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
using HandleFn = BOOL(WINAPI*)(HANDLE);
using CreateProcessFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                                      LPVOID, LPWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
using PowerFn = BOOL(WINAPI*)(CeSystemPowerStatusEx*, BOOL);
using VersionFn = BOOL(WINAPI*)(CeOsVersionInfo*);

// The Remote API as the updater uses it.
struct Rapi {
    RapiLibrary library;
    InitFn Init = library.Get<InitFn>("CeRapiInit");
    InitExFn InitEx = library.Get<InitExFn>("CeRapiInitEx");
    UninitFn Uninit = library.Get<UninitFn>("CeRapiUninit");
    LastErrorFn LastError = library.Get<LastErrorFn>("CeGetLastError");
    RegOpenFn RegOpen = library.Get<RegOpenFn>("CeRegOpenKeyEx");
    RegQueryFn RegQuery = library.Get<RegQueryFn>("CeRegQueryValueEx");
    RegCloseFn RegClose = library.Get<RegCloseFn>("CeRegCloseKey");
    CreateFileFn CreateFile = library.Get<CreateFileFn>("CeCreateFile");
    WriteFileFn WriteFile = library.Get<WriteFileFn>("CeWriteFile");
    HandleFn SetEndOfFile = library.Get<HandleFn>("CeSetEndOfFile");
    HandleFn CloseHandle = library.Get<HandleFn>("CeCloseHandle");
    CreateProcessFn CreateProcess = library.Get<CreateProcessFn>("CeCreateProcess");
    PowerFn PowerStatus = library.Get<PowerFn>("CeGetSystemPowerStatusEx");
    VersionFn Version = library.Get<VersionFn>("CeGetVersionEx");

    bool Complete() const
    {
        return Init && InitEx && Uninit && LastError && RegOpen && RegQuery && RegClose && CreateFile && WriteFile &&
               SetEndOfFile && CloseHandle && CreateProcess && PowerStatus && Version;
    }

    // CeRapiInitEx and the wait for its event, as the welcome page does it.
    bool Connect(DWORD boundMs = kConnectBoundMs, HRESULT* outcome = nullptr)
    {
        RapiInit record{sizeof(RapiInit), CreateEventW(nullptr, TRUE, FALSE, nullptr), E_UNEXPECTED};
        bool signalled = false;
        if (SUCCEEDED(InitEx(&record)))
            signalled = WaitForSingleObject(record.event, boundMs) == WAIT_OBJECT_0;
        if (!signalled)
            Uninit();  // the double must let go of the record before it goes
        ::CloseHandle(record.event);
        if (outcome)
            *outcome = record.result;
        return signalled && SUCCEEDED(record.result);
    }

    // The copy loop of the updater's helper deployment: 8,192-byte pieces and a
    // last write of what the final read gave, zero bytes included.
    bool Copy(const std::wstring& localPath, const std::wstring& phonePath)
    {
        HANDLE local = ::CreateFileW(localPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (local == INVALID_HANDLE_VALUE)
            return false;
        HANDLE remote = CreateFile(phonePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_HIDDEN, nullptr);
        bool ok = remote != INVALID_HANDLE_VALUE;
        std::vector<char> piece(kCopyPiece);
        for (DWORD read = 1; ok && read > 0;) {
            ok = ReadFile(local, piece.data(), kCopyPiece, &read, nullptr) != FALSE;
            DWORD written = 0;
            ok = ok && WriteFile(remote, piece.data(), read, &written, nullptr) && written == read;
        }
        if (remote != INVALID_HANDLE_VALUE) {
            SetEndOfFile(remote);
            CloseHandle(remote);
        }
        ::CloseHandle(local);
        return ok;
    }

    // Starts a program on the phone by bare name and waits for it (the updater does
    // not wait; the test does, to read its effects).
    bool RunOnPhone(const wchar_t* name, DWORD& exitCode)
    {
        PROCESS_INFORMATION info{};
        if (!CreateProcess(name, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &info))
            return false;
        const bool ended = WaitForExit(info.hProcess, kHelperBoundMs, exitCode);
        EXPECT_TRUE(CloseHandle(info.hProcess));
        EXPECT_TRUE(CloseHandle(info.hThread));
        return ended;
    }

    // A string value of KROV\SYSVERSION read as the version fetch reads it.
    struct Read {
        LONG result = ERROR_INVALID_FUNCTION;
        DWORD size = 0;
        std::wstring text;
    };
    Read Value(HKEY key, const wchar_t* name)
    {
        Read read;
        DWORD type = 0;
        read.result = RegQuery(key, name, nullptr, &type, nullptr, &read.size);
        if (read.result != ERROR_SUCCESS)
            return read;
        std::vector<BYTE> buffer(kValueBuffer, 0);
        DWORD size = kValueBuffer;
        read.result = RegQuery(key, name, nullptr, &type, buffer.data(), &size);
        read.text = reinterpret_cast<const wchar_t*>(buffer.data());
        read.size = size;
        return read;
    }
};

class RapiDouble : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(rapi_.library.Loaded());
        ASSERT_TRUE(rapi_.Complete());
    }
    Rapi rapi_;
};

std::string Ini(const std::string& phone, const std::string& more = "")
{
    return "[phone]\n" + phone + more;
}

const char kModelPhone[] =
    "battery=80\nos=5.1\noem=Model-A\nrom=3.10.404.1\nextrom=1.05.01\nlanguage=WWE\nradio=1.27.00.10\n";

TEST_F(RapiDouble, ConnectionSignalsItsEventAndReportsThePhone)
{
    SimulatedPhone phone("connect", Ini(kModelPhone));
    ASSERT_TRUE(phone.Ready());
    EXPECT_EQ(rapi_.Uninit(), E_FAIL);  // nothing to end yet

    RapiInit badSize{8, CreateEventW(nullptr, TRUE, FALSE, nullptr), S_OK};
    EXPECT_EQ(rapi_.InitEx(&badSize), E_INVALIDARG);
    CloseHandle(badSize.event);

    ASSERT_TRUE(rapi_.Connect());
    HKEY root = nullptr;
    ASSERT_EQ(rapi_.RegOpen(HKEY_LOCAL_MACHINE, nullptr, 0, 0, &root), ERROR_SUCCESS);
    EXPECT_EQ(rapi_.RegClose(root), ERROR_SUCCESS);

    CeSystemPowerStatusEx power{};
    ASSERT_TRUE(rapi_.PowerStatus(&power, TRUE));
    EXPECT_EQ(power.batteryLifePercent, 80);
    CeOsVersionInfo version{};
    ASSERT_TRUE(rapi_.Version(&version));
    EXPECT_EQ(version.majorVersion, 5u);
    EXPECT_EQ(version.minorVersion, 1u);
    EXPECT_EQ(version.platformId, rapi::kPlatformWindowsCe);
    EXPECT_EQ(rapi_.Uninit(), S_OK);
    EXPECT_EQ(rapi_.Uninit(), E_FAIL);

    ASSERT_EQ(rapi_.Init(), S_OK);
    EXPECT_TRUE(rapi_.PowerStatus(&power, TRUE));
    EXPECT_EQ(rapi_.Uninit(), S_OK);
    // Without a connection nothing reaches the phone.
    EXPECT_FALSE(rapi_.PowerStatus(&power, TRUE));
    EXPECT_NE(rapi_.RegOpen(HKEY_LOCAL_MACHINE, nullptr, 0, 0, &root), ERROR_SUCCESS);
}

TEST(SimPhoneSetup, RefusesABadStateFile)
{
    const std::wstring stateFile = CurrentFolder() + L"\\bad-phone.ini";
    const std::wstring folder = CurrentFolder() + L"\\phone-bad";
    ASSERT_TRUE(WriteTextFile(stateFile, "[phone]\nbattery=150\n"));
    const ProcessResult setup = RunCaptured(L"\"" + GivenPath("SimPhoneSetup") + L"\" --state \"" + stateFile +
                                                L"\" \"" + folder + L"\"",
                                            30000);
    EXPECT_TRUE(setup.ended);
    EXPECT_EQ(setup.exitCode, 1u);
    EXPECT_EQ(GetFileAttributesW((folder + L"\\phone.ini").c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileW(stateFile.c_str());
    RemoveTree(folder);
}

TEST_F(RapiDouble, UnreachableOrRefusingPhone)
{
    {
        SimulatedPhone phone("unreachable", Ini("reachable=0\n"));
        ASSERT_TRUE(phone.Ready());
        EXPECT_EQ(rapi_.Init(), E_FAIL);
        // The attempt stays open, unsignalled, as with an unplugged phone.
        EXPECT_FALSE(rapi_.Connect(300));
    }
    {
        SimulatedPhone phone("refusing", Ini("connect_result=0x80004005\n"));
        ASSERT_TRUE(phone.Ready());
        HRESULT outcome = S_OK;
        EXPECT_FALSE(rapi_.Connect(kConnectBoundMs, &outcome));
        EXPECT_EQ(outcome, E_FAIL);
        EXPECT_EQ(rapi_.Uninit(), S_OK);
    }
    {
        // The connection comes up after its delay, not before.
        SimulatedPhone phone("slow", Ini("connect_delay_ms=1500\n"));
        ASSERT_TRUE(phone.Ready());
        EXPECT_FALSE(rapi_.Connect(200));
        EXPECT_TRUE(rapi_.Connect(10000));
        EXPECT_EQ(rapi_.Uninit(), S_OK);
    }
}

TEST_F(RapiDouble, RegistryValuesMissingKeysAndLongData)
{
    const std::string longText(3000, 'x');  // 6,002 bytes as UTF-16
    SimulatedPhone phone("registry",
                         Ini(kModelPhone, "\n[HKLM\\KROV\\SYSVERSION]\nvROM=sz:1.00\nLong=sz:" + longText + "\n"));
    ASSERT_TRUE(phone.Ready());
    ASSERT_TRUE(rapi_.Connect());
    HKEY key = nullptr;
    EXPECT_EQ(rapi_.RegOpen(HKEY_LOCAL_MACHINE, L"KROV\\MISSING", 0, 0, &key), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(rapi_.RegOpen(HKEY_LOCAL_MACHINE, L"KROV\\SYSVERSION", 0, 0, &key), ERROR_SUCCESS);

    Rapi::Read read = rapi_.Value(key, L"vROM");
    EXPECT_EQ(read.result, ERROR_SUCCESS);
    EXPECT_EQ(read.text, L"1.00");
    EXPECT_EQ(read.size, 10u);
    EXPECT_EQ(rapi_.Value(key, L"ID").result, ERROR_FILE_NOT_FOUND);

    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(rapi_.RegQuery(key, L"Long", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6002u);
    std::vector<BYTE> buffer(kValueBuffer, 0);
    size = kValueBuffer;
    EXPECT_EQ(rapi_.RegQuery(key, L"Long", nullptr, &type, buffer.data(), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6002u);
    EXPECT_EQ(buffer[kValueBuffer - 2], 'x');

    EXPECT_EQ(rapi_.RegClose(key), ERROR_SUCCESS);
    EXPECT_EQ(rapi_.RegClose(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(rapi_.Uninit(), S_OK);
}

TEST_F(RapiDouble, FilesLandInThePhonesFolders)
{
    SimulatedPhone phone("files", Ini(kModelPhone));
    ASSERT_TRUE(phone.Ready());
    // A file of exactly two pieces ends with a zero-length write and arrives whole.
    std::string content(2 * kCopyPiece, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7);
    const std::wstring local = phone.Folder() + L"\\two-pieces.bin";
    ASSERT_TRUE(WriteTextFile(local, content));
    ASSERT_TRUE(rapi_.Connect());
    ASSERT_TRUE(rapi_.Copy(local, L"\\windows\\two-pieces.bin"));
    const std::wstring landed = phone.FileOnDesktop(L"\\windows\\two-pieces.bin");
    EXPECT_EQ(ReadTextFile(landed), content);
    EXPECT_TRUE(GetFileAttributesW(landed.c_str()) & FILE_ATTRIBUTE_HIDDEN);

    // Paths that would leave the phone's files are refused.
    EXPECT_EQ(rapi_.CreateFile(L"\\windows\\..\\..\\phone.ini", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(rapi_.LastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_FALSE(rapi_.WriteFile(reinterpret_cast<HANDLE>(0x1234), "x", 1, nullptr, nullptr));

    PROCESS_INFORMATION info{};
    EXPECT_FALSE(rapi_.CreateProcess(L"NoSuchHelper", nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr,
                                     &info));
    EXPECT_EQ(rapi_.LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(rapi_.Uninit(), S_OK);
}

class PhoneHelpers : public RapiDouble {
protected:
    // Copies a helper to the phone's \windows and runs it there by bare name.
    void Deploy(const wchar_t* name, const std::string& helper)
    {
        ASSERT_TRUE(rapi_.Connect());
        ASSERT_TRUE(rapi_.Copy(GivenPath(helper), std::wstring(L"\\windows\\") + name + L".exe"));
        DWORD exitCode = 99;
        ASSERT_TRUE(rapi_.RunOnPhone(name, exitCode));
        EXPECT_EQ(exitCode, 0u) << helper;
        rapi_.Uninit();
    }

    std::wstring ReadVersionValue(const wchar_t* name, DWORD* size = nullptr)
    {
        EXPECT_EQ(rapi_.Init(), S_OK);
        HKEY key = nullptr;
        std::wstring text = L"<no key>";
        if (rapi_.RegOpen(HKEY_LOCAL_MACHINE, L"KROV\\SYSVERSION", 0, 0, &key) == ERROR_SUCCESS) {
            const Rapi::Read read = rapi_.Value(key, name);
            text = read.result == ERROR_SUCCESS ? read.text : L"<no value>";
            if (size)
                *size = read.size;
            rapi_.RegClose(key);
        }
        rapi_.Uninit();
        return text;
    }
};

TEST_F(PhoneHelpers, DeviceSpyLeavesTheVersionsInTheRegistry)
{
    // An old identity is replaced, the key kept.
    SimulatedPhone phone("devicespy", Ini(kModelPhone, "\n[HKLM\\KROV\\SYSVERSION]\nID=sz:Old-Model\nkept=sz:yes\n"));
    ASSERT_TRUE(phone.Ready());
    Deploy(L"DeviceSpy", "DeviceSpy");
    DWORD idSize = 0;
    EXPECT_EQ(ReadVersionValue(L"ID", &idSize), L"Model-A");
    EXPECT_EQ(idSize, 2048u);
    EXPECT_EQ(ReadVersionValue(L"vROM"), L"3.10.404.1");
    EXPECT_EQ(ReadVersionValue(L"vExtROM"), L"1.05.01 WWE");
    EXPECT_EQ(ReadVersionValue(L"vRadio"), L"1.27.00.10");
    EXPECT_EQ(ReadVersionValue(L"kept"), L"yes");
}

TEST_F(PhoneHelpers, DeviceSpyCreatesTheKeyAndNamesFailedQueries)
{
    {
        SimulatedPhone phone("oem-error", Ini("oem_error=31\nrom_record=0\nradio_answers=0\n"));
        ASSERT_TRUE(phone.Ready());
        Deploy(L"DeviceSpy", "DeviceSpy");
        EXPECT_EQ(ReadVersionValue(L"ID"), L"Error");
        EXPECT_EQ(ReadVersionValue(L"vROM"), L"Error");
        EXPECT_EQ(ReadVersionValue(L"vRadio"), L"Error");
    }
    {
        // An identity of 600 characters does not fit the 0x400-byte query buffer.
        SimulatedPhone phone("oem-long", Ini("oem=" + std::string(600, 'M') + "\nlanguage=CHT\n"));
        ASSERT_TRUE(phone.Ready());
        Deploy(L"DeviceSpy", "DeviceSpy");
        EXPECT_EQ(ReadVersionValue(L"ID"), L"NOT ENOUGH BUFFER");
        EXPECT_EQ(ReadVersionValue(L"vExtROM"), L"CHT");
    }
}

TEST_F(PhoneHelpers, DeviceModeThenSysRebootStartTheBootLoader)
{
    SimulatedPhone phone("bootloader", Ini(kModelPhone));
    ASSERT_TRUE(phone.Ready());
    Deploy(L"DeviceMode", "DeviceMode");
    EXPECT_NE(phone.StateText().find("boot_next=bootloader"), std::string::npos) << phone.StateText();
    EXPECT_EQ(phone.StateText().find("mode=bootloader"), std::string::npos);
    Deploy(L"SysReboot", "SysReboot");
    const std::string state = phone.StateText();
    EXPECT_NE(state.find("\nmode=bootloader"), std::string::npos) << state;
    EXPECT_NE(state.find("restarts=1"), std::string::npos) << state;
    // In its boot loader the phone has no desktop link.
    EXPECT_EQ(rapi_.Init(), E_FAIL);
    EXPECT_FALSE(rapi_.Connect(300));
}

TEST_F(PhoneHelpers, SysRebootAloneRestartsNormally)
{
    SimulatedPhone phone("reboot", Ini(kModelPhone));
    ASSERT_TRUE(phone.Ready());
    Deploy(L"SysReboot", "SysReboot");
    const std::string state = phone.StateText();
    EXPECT_NE(state.find("\nmode=normal"), std::string::npos) << state;
    EXPECT_NE(state.find("restarts=1"), std::string::npos) << state;
    EXPECT_TRUE(rapi_.Connect());
    rapi_.Uninit();
}

}  // namespace
}  // namespace flashwise::winetest
