#include "update/win/SystemPrivateFolders.h"

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace flashwise::update {
namespace {

constexpr int kRemoveTries = 20;
constexpr DWORD kRemovePauseMs = 100;

// SYSTEM and the Administrators group, full control, for the folder and everything in
// it; nothing inherited from the parent, so no one else gets a right there.
class PrivateAccess {
public:
    PrivateAccess() {
        DWORD size = SECURITY_MAX_SID_SIZE;
        ok_ = CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &size) != FALSE;
        size = SECURITY_MAX_SID_SIZE;
        ok_ = ok_ && CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins_, &size) != FALSE;
        if (!ok_) return;
        const DWORD aclSize = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                              GetLengthSid(system_) + GetLengthSid(admins_);
        acl_.resize(aclSize);
        ACL* acl = reinterpret_cast<ACL*>(acl_.data());
        constexpr DWORD kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        ok_ = InitializeAcl(acl, aclSize, ACL_REVISION) && AddAccessAllowedAceEx(acl, ACL_REVISION, kInherit, FILE_ALL_ACCESS, system_) &&
              AddAccessAllowedAceEx(acl, ACL_REVISION, kInherit, FILE_ALL_ACCESS, admins_) &&
              InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
              SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
              SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    }
    bool Ok() const { return ok_; }
    // With the Administrators group as the owner: an owner may always change the access
    // list, and the user's own account must not be it.
    SECURITY_DESCRIPTOR* Descriptor(bool withOwner) {
        SetSecurityDescriptorOwner(&descriptor_, withOwner ? static_cast<PSID>(admins_) : nullptr, FALSE);
        return &descriptor_;
    }

private:
    bool ok_ = false;
    BYTE system_[SECURITY_MAX_SID_SIZE] = {};
    BYTE admins_[SECURITY_MAX_SID_SIZE] = {};
    std::vector<BYTE> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
};

bool MakeFolder(const std::wstring& path, PrivateAccess& access, bool withOwner) {
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = access.Descriptor(withOwner);
    return CreateDirectoryW(path.c_str(), &attributes) != FALSE;
}

void DeleteEverythingIn(const std::wstring& folder) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A link is removed, never followed: what it points to is not ours.
            if (!RemoveDirectoryW(path.c_str())) DeleteFileW(path.c_str());
        } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            DeleteEverythingIn(path);
            RemoveDirectoryW(path.c_str());
        } else {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

std::wstring SystemPrivateFolders::AccessText() {
    PrivateAccess access;
    wchar_t* text = nullptr;
    if (!access.Ok() || !ConvertSecurityDescriptorToStringSecurityDescriptorW(
                            access.Descriptor(true), SDDL_REVISION_1,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
        return {};
    }
    std::wstring result(text);
    LocalFree(text);
    return result;
}

SystemPrivateFolders::~SystemPrivateFolders() {
    for (const auto& entry : held_) CloseHandle(entry.second);
}

std::filesystem::path SystemPrivateFolders::Base() {
    // The system's Temp folder: its parents belong to the system, so no unelevated
    // program can rename them and put another folder in the private one's place.
    wchar_t windows[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::filesystem::path(std::wstring(windows, length)) / L"Temp";
}

std::uint32_t SystemPrivateFolders::RandomToken() {
    std::uint32_t token = 0;
    using GenRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
    const HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
    const auto generate = advapi ? reinterpret_cast<GenRandom>(GetProcAddress(advapi, "SystemFunction036")) : nullptr;
    if (generate == nullptr || !generate(&token, sizeof token)) {
        token = GetTickCount() * 2654435761u ^ GetCurrentProcessId();
    }
    return token;
}

PrivateFolders::Made SystemPrivateFolders::Create(const std::filesystem::path& folder) {
    PrivateAccess access;
    if (!access.Ok()) return Made::Failed;
    const std::wstring path = folder.wstring();
    if (!MakeFolder(path, access, true)) {
        const DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS) return Made::Exists;
        // A token that may not name the Administrators group as owner: an elevated
        // administrator's objects belong to that group anyway.
        if (error != ERROR_INVALID_OWNER || !MakeFolder(path, access, false)) {
            return GetLastError() == ERROR_ALREADY_EXISTS ? Made::Exists : Made::Failed;
        }
    }
    const HANDLE held = CreateFileW(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        RemoveDirectoryW(path.c_str());
        return Made::Failed;
    }
    held_[folder] = held;
    return Made::Created;
}

void SystemPrivateFolders::Remove(const std::filesystem::path& folder) {
    const auto found = held_.find(folder);
    if (found != held_.end()) {
        CloseHandle(found->second);
        held_.erase(found);
    }
    const std::wstring path = folder.wstring();
    // A helper that was just ended may need a moment to let go of its file.
    for (int attempt = 0; attempt < kRemoveTries; ++attempt) {
        DeleteEverythingIn(path);
        if (RemoveDirectoryW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
            GetLastError() == ERROR_PATH_NOT_FOUND) {
            return;
        }
        Sleep(kRemovePauseMs);
    }
}

}  // namespace flashwise::update
