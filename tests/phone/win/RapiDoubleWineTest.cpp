// The Remote API double and the phone-side helpers on the simulated phone, under Wine:
// the calls the updater makes, with the results it relies on.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "sim/phone/WorldLog.h"
#include "tests/support/win/SimulatedPhone.h"
#include "tests/support/win/WineTestSupport.h"
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
    bool Connect(DWORD boundMs = kConnectBoundMs, HRESULT* outcome = nullptr, HRESULT* returned = nullptr)
    {
        RapiInit record{sizeof(RapiInit), CreateEventW(nullptr, TRUE, FALSE, nullptr), E_UNEXPECTED};
        bool signalled = false;
        const HRESULT answer = InitEx(&record);
        if (returned)
            *returned = answer;
        if (SUCCEEDED(answer))
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

    // Every call is in the world's log, in order, with this process's id and its result.
    const std::string pid = std::to_string(GetCurrentProcessId());
    std::vector<std::string> calls;
    std::uint64_t last = 0;
    for (const auto& act : simphone::ParseWorldLog(phone.WorldLogText())) {
        EXPECT_EQ(act.source, "rapi");
        EXPECT_EQ(act.Field("pid"), pid);
        EXPECT_GE(act.ms, last);
        last = act.ms;
        calls.push_back(act.act + (act.Field("result") ? " " + *act.Field("result") : std::string()));
    }
    const std::vector<std::string> expected = {
        "CeRapiUninit 0x80004005", "CeRapiInitEx 0x80070057", "CeRapiInitEx 0x00000000",
        "CeRapiInitEx.end 0x00000000", "CeRegOpenKeyEx 0", "CeRegCloseKey 0", "CeGetSystemPowerStatusEx 1",
        "CeGetVersionEx 1", "CeRapiUninit 0x00000000", "CeRapiUninit 0x80004005", "CeRapiInit.begin",
        "CeRapiInit 0x00000000", "CeGetSystemPowerStatusEx 1", "CeRapiUninit 0x00000000",
        "CeGetSystemPowerStatusEx 0", "CeRegOpenKeyEx 1167"};
    EXPECT_EQ(calls, expected);
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

// What the double does on demand, one row per behaviour: the phone's state, and what
// the updater's calls then meet.
struct Misbehaviour {
    const char* name;
    std::string phoneIni;
    std::function<void(Rapi&, SimulatedPhone&)> check;
};

// A value read as the version fetch reads it: its size first, then a 4,096-byte buffer.
struct SizedRead {
    DWORD size = 0;
    LONG readResult = ERROR_INVALID_FUNCTION;
    DWORD readSize = 0;
    std::vector<BYTE> buffer = std::vector<BYTE>(kValueBuffer, 0xEE);
};

SizedRead ReadSized(Rapi& rapi, const wchar_t* name)
{
    SizedRead read;
    HKEY key = nullptr;
    if (!rapi.Connect() || rapi.RegOpen(HKEY_LOCAL_MACHINE, L"KROV\\SYSVERSION", 0, 0, &key) != ERROR_SUCCESS) {
        ADD_FAILURE() << "the key cannot be opened";
        return read;
    }
    DWORD type = 0;
    EXPECT_EQ(rapi.RegQuery(key, name, nullptr, &type, nullptr, &read.size), ERROR_SUCCESS);
    read.readSize = kValueBuffer;
    read.readResult = rapi.RegQuery(key, name, nullptr, &type, read.buffer.data(), &read.readSize);
    rapi.RegClose(key);
    rapi.Uninit();
    return read;
}

// A string's UTF-16 bytes without a terminator, as the state file spells exact bytes.
std::string Utf16Bytes(const std::string& text)
{
    std::string hex = "hex(1):";
    for (char c : text) {
        char pair[8];
        std::snprintf(pair, sizeof pair, "%02x00", static_cast<unsigned char>(c));
        hex += pair;
    }
    return hex;
}

DWORD WINAPI CallInit(LPVOID rapi)
{
    return static_cast<DWORD>(static_cast<Rapi*>(rapi)->Init());
}

const Misbehaviour kMisbehaviours[] = {
    {"CeRapiInitEx completes later than 1 ms", "connect_delay_ms=300\n",
     [](Rapi& rapi, SimulatedPhone&) {
         EXPECT_FALSE(rapi.Connect(1));
         EXPECT_TRUE(rapi.Connect(10000));
         EXPECT_EQ(rapi.Uninit(), S_OK);
     }},
    {"CeRapiInitEx never completes", "initex_completes=0\n",
     [](Rapi& rapi, SimulatedPhone&) {
         HRESULT returned = E_FAIL;
         EXPECT_FALSE(rapi.Connect(500, nullptr, &returned));
         EXPECT_EQ(returned, S_OK) << "the request is taken; only its end never comes";
         EXPECT_EQ(rapi.Init(), S_OK) << "the blocking connection still works";
         EXPECT_EQ(rapi.Uninit(), S_OK);
     }},
    {"CeRapiInit blocks while CeRapiInitEx succeeds", "init_blocks=1\n",
     [](Rapi& rapi, SimulatedPhone& phone) {
         HANDLE blocked = CreateThread(nullptr, 0, CallInit, &rapi, 0, nullptr);
         ASSERT_NE(blocked, nullptr);
         EXPECT_EQ(WaitForSingleObject(blocked, 500), static_cast<DWORD>(WAIT_TIMEOUT));
         EXPECT_TRUE(rapi.Connect());
         ASSERT_TRUE(phone.Set("phone", "init_blocks", "0"));
         DWORD result = static_cast<DWORD>(E_FAIL);
         EXPECT_EQ(WaitForSingleObject(blocked, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
         GetExitCodeThread(blocked, &result);
         EXPECT_EQ(static_cast<HRESULT>(result), S_OK) << "let go, it connects";
         CloseHandle(blocked);
         EXPECT_EQ(rapi.Uninit(), S_OK);
     }},
    {"CeRapiInit returns any result", "init_result=0x8007000E\n",
     [](Rapi& rapi, SimulatedPhone&) {
         EXPECT_EQ(rapi.Init(), static_cast<HRESULT>(0x8007000E));
         EXPECT_TRUE(rapi.Connect()) << "CeRapiInitEx is not touched";
         EXPECT_EQ(rapi.Uninit(), S_OK);
     }},
    {"CeRapiInitEx itself returns any result", "initex_return=0x80070005\n",
     [](Rapi& rapi, SimulatedPhone&) {
         HRESULT returned = S_OK;
         EXPECT_FALSE(rapi.Connect(500, nullptr, &returned));
         EXPECT_EQ(returned, static_cast<HRESULT>(0x80070005));
     }},
    {"CeRapiInitEx's attempt ends with any result", "initex_result=0x8000FFFF\n",
     [](Rapi& rapi, SimulatedPhone&) {
         HRESULT outcome = S_OK;
         EXPECT_FALSE(rapi.Connect(kConnectBoundMs, &outcome));
         EXPECT_EQ(outcome, static_cast<HRESULT>(0x8000FFFF));
         EXPECT_EQ(rapi.Init(), S_OK) << "CeRapiInit is not touched";
         EXPECT_EQ(rapi.Uninit(), S_OK);
     }},
    {"the registry-root probe fails while connected", "root_probe_error=5\n[HKLM\\KROV\\SYSVERSION]\nvROM=sz:1\n",
     [](Rapi& rapi, SimulatedPhone&) {
         ASSERT_TRUE(rapi.Connect());
         HKEY key = nullptr;
         EXPECT_EQ(rapi.RegOpen(HKEY_LOCAL_MACHINE, nullptr, 0, 0, &key), ERROR_ACCESS_DENIED);
         EXPECT_EQ(rapi.RegOpen(HKEY_LOCAL_MACHINE, L"", 0, 0, &key), ERROR_ACCESS_DENIED);
         ASSERT_EQ(rapi.RegOpen(HKEY_LOCAL_MACHINE, L"KROV\\SYSVERSION", 0, 0, &key), ERROR_SUCCESS);
         EXPECT_EQ(rapi.RegClose(key), ERROR_SUCCESS);
         EXPECT_EQ(rapi.Uninit(), S_OK);
     }},
    {"the power and version queries fail", "power_query=0\nversion_query=0\n",
     [](Rapi& rapi, SimulatedPhone&) {
         ASSERT_TRUE(rapi.Connect());
         CeSystemPowerStatusEx power{};
         CeOsVersionInfo version{};
         EXPECT_FALSE(rapi.PowerStatus(&power, TRUE));
         EXPECT_FALSE(rapi.Version(&version));
         EXPECT_EQ(power.batteryLifePercent, 0);
         EXPECT_EQ(version.majorVersion, 0u);
         EXPECT_EQ(rapi.Uninit(), S_OK);
     }},
    {"CeCreateFile fails for one path", "create_file_fails=\\windows\\DeviceMode.exe\ncreate_file_error=0x70\n",
     [](Rapi& rapi, SimulatedPhone&) {
         ASSERT_TRUE(rapi.Connect());
         EXPECT_EQ(rapi.CreateFile(L"\\Windows\\devicemode.EXE", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
                   INVALID_HANDLE_VALUE);
         EXPECT_EQ(rapi.LastError(), 0x70u);
         HANDLE other =
             rapi.CreateFile(L"\\windows\\SysReboot.exe", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
         EXPECT_NE(other, INVALID_HANDLE_VALUE);
         EXPECT_TRUE(rapi.CloseHandle(other));
         EXPECT_EQ(rapi.Uninit(), S_OK);
     }},
    {"a write runs short at a given byte", "write_short_at=10000\n",
     [](Rapi& rapi, SimulatedPhone& phone) {
         const std::wstring local = phone.Folder() + L"\\long.bin";
         ASSERT_TRUE(WriteTextFile(local, std::string(3 * kCopyPiece, 'w')));
         ASSERT_TRUE(rapi.Connect());
         EXPECT_FALSE(rapi.Copy(local, L"\\windows\\long.bin")) << "the copy notices the short write";
         EXPECT_EQ(ReadTextFile(phone.FileOnDesktop(L"\\windows\\long.bin")).size(), 10000u);
         EXPECT_EQ(rapi.Uninit(), S_OK);
         const auto acts = simphone::ParseWorldLog(phone.WorldLogText());
         const auto shortWrite = std::find_if(acts.begin(), acts.end(), [](const simphone::WorldAct& act) {
             return act.act == "CeWriteFile" && act.Field("written") != act.Field("bytes");
         });
         ASSERT_NE(shortWrite, acts.end());
         EXPECT_EQ(shortWrite->Field("bytes"), "8192");
         EXPECT_EQ(shortWrite->Field("written"), "1808");
         EXPECT_EQ(shortWrite->Field("result"), "1") << "a short write still reports success";
     }},
    {"CeCreateProcess fails", "create_process_error=0x5\n",
     [](Rapi& rapi, SimulatedPhone& phone) {
         ASSERT_TRUE(WriteTextFile(phone.FileOnDesktop(L"\\windows\\Present.exe"), "MZ"));
         ASSERT_TRUE(rapi.Connect());
         PROCESS_INFORMATION info{};
         EXPECT_FALSE(rapi.CreateProcess(L"Present", nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr,
                                         &info));
         EXPECT_EQ(rapi.LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
         EXPECT_EQ(rapi.Uninit(), S_OK);
     }},
    {"a string value without its terminator", "[HKLM\\KROV\\SYSVERSION]\nvROM=" + Utf16Bytes("3.10") + "\n",
     [](Rapi& rapi, SimulatedPhone&) {
         const SizedRead read = ReadSized(rapi, L"vROM");
         EXPECT_EQ(read.size, 8u);
         EXPECT_EQ(read.readResult, ERROR_SUCCESS);
         EXPECT_EQ(read.buffer[6], '0');
         EXPECT_EQ(read.buffer[8], 0xEE) << "nothing is written after the value's own bytes";
     }},
    {"values of 4,094 and 4,096 bytes",
     "[HKLM\\KROV\\SYSVERSION]\nvROM=sz:" + std::string(2046, 'r') + "\nvRadio=sz:" + std::string(2047, 'r') + "\n",
     [](Rapi& rapi, SimulatedPhone&) {
         const SizedRead below = ReadSized(rapi, L"vROM");
         EXPECT_EQ(below.size, 4094u);
         EXPECT_EQ(below.readResult, ERROR_SUCCESS);
         const SizedRead full = ReadSized(rapi, L"vRadio");
         EXPECT_EQ(full.size, 4096u);
         EXPECT_EQ(full.readResult, ERROR_SUCCESS);
         EXPECT_EQ(full.buffer[4095], 0);
     }},
    {"a value grows between the size query and the read",
     "grow_value=vExtROM:4100\n[HKLM\\KROV\\SYSVERSION]\nvExtROM=sz:1.05 WWE\n",
     [](Rapi& rapi, SimulatedPhone& phone) {
         const SizedRead read = ReadSized(rapi, L"vExtROM");
         EXPECT_EQ(read.size, 18u);
         EXPECT_EQ(read.readResult, ERROR_MORE_DATA);
         EXPECT_EQ(read.readSize, 4100u);
         EXPECT_EQ(read.buffer[14], 'E');
         EXPECT_EQ(read.buffer[16], 'x');
         EXPECT_EQ(read.buffer[kValueBuffer - 2], 'x') << "the buffer is full and holds no terminator";
         EXPECT_EQ(phone.StateText().find("grow_value"), std::string::npos) << "it grows once";
     }},
    {"no synchronisation link: USB disabled in the connection manager", "[desktop]\nconnection_types=2\n",
     [](Rapi& rapi, SimulatedPhone& phone) {
         EXPECT_EQ(rapi.Init(), E_FAIL);
         EXPECT_FALSE(rapi.Connect(300));
         ASSERT_TRUE(phone.Set("desktop", "connection_types", "10"));
         EXPECT_TRUE(rapi.Connect(10000)) << "an attempt ends once the link is up";
         EXPECT_EQ(rapi.Uninit(), S_OK);
     }},
    {"no synchronisation link: a device-center service stopped", "[desktop]\nWcesComm=running\nRapiMgr=stopped\n",
     [](Rapi& rapi, SimulatedPhone& phone) {
         EXPECT_EQ(rapi.Init(), E_FAIL);
         ASSERT_TRUE(phone.Set("desktop", "RapiMgr", "running"));
         ASSERT_EQ(rapi.Init(), S_OK);
         ASSERT_TRUE(phone.Set("desktop", "WcesComm", "stop-pending"));
         CeSystemPowerStatusEx power{};
         EXPECT_FALSE(rapi.PowerStatus(&power, TRUE)) << "a connection made is lost with the link";
         EXPECT_EQ(rapi.Uninit(), S_OK);
     }},
};

TEST_F(RapiDouble, MisbehavesOnDemand)
{
    for (const Misbehaviour& row : kMisbehaviours) {
        SCOPED_TRACE(row.name);
        SimulatedPhone phone("misbehaving", Ini(kModelPhone, row.phoneIni));
        ASSERT_TRUE(phone.Ready());
        row.check(rapi_, phone);
        rapi_.Uninit();  // a row that failed half-way leaves no connection to the next
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

TEST_F(PhoneHelpers, DeviceSpyWritesNothingOrLateOnDemand)
{
    struct Row {
        const char* name;
        const char* phoneIni;
        bool writes;
    };
    const Row rows[] = {
        {"a DeviceSpy that writes nothing", "devicespy_writes=0\n", false},
        {"a DeviceSpy that writes late", "devicespy_delay_ms=4000\n", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SimulatedPhone phone("devicespy-slow", Ini(kModelPhone, row.phoneIni));
        ASSERT_TRUE(phone.Ready());
        ASSERT_TRUE(rapi_.Connect());
        ASSERT_TRUE(rapi_.Copy(GivenPath("DeviceSpy"), L"\\windows\\DeviceSpy.exe"));
        PROCESS_INFORMATION info{};
        ASSERT_TRUE(rapi_.CreateProcess(L"DeviceSpy", nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr,
                                        &info));
        rapi_.Uninit();
        // The version fetch looks one second after the start: nothing there yet either way.
        Sleep(1000);
        EXPECT_EQ(ReadVersionValue(L"vROM"), L"<no key>");
        DWORD exitCode = 0;
        EXPECT_TRUE(WaitForExit(info.hProcess, kHelperBoundMs, exitCode));
        EXPECT_TRUE(rapi_.CloseHandle(info.hProcess));
        EXPECT_TRUE(rapi_.CloseHandle(info.hThread));
        EXPECT_EQ(ReadVersionValue(L"vROM"), row.writes ? L"3.10.404.1" : L"<no key>");
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
