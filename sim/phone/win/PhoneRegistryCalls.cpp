#include "sim/phone/win/PhoneRegistryCalls.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "sim/phone/PhoneRegistry.h"
#include "sim/phone/win/PhoneStore.h"

namespace flashwise::simphone {

namespace {

// Opened keys by handle value; the values are far from the predefined roots.
class KeyTable {
public:
    HKEY Add(const std::string& section)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::uintptr_t handle = next_;
        next_ += 4;
        keys_[handle] = section;
        return reinterpret_cast<HKEY>(handle);
    }

    std::optional<std::string> Section(HKEY key)
    {
        if (key == HKEY_LOCAL_MACHINE)
            return KeySection("");
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = keys_.find(reinterpret_cast<std::uintptr_t>(key));
        if (it == keys_.end())
            return std::nullopt;
        return it->second;
    }

    bool Remove(HKEY key)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return keys_.erase(reinterpret_cast<std::uintptr_t>(key)) == 1;
    }

private:
    std::mutex mutex_;
    std::uintptr_t next_ = 0x00A10000;
    std::map<std::uintptr_t, std::string> keys_;
};

KeyTable& Keys()
{
    static KeyTable table;
    return table;
}

std::optional<std::string> ChildSection(HKEY root, const wchar_t* subKey)
{
    const std::optional<std::string> parent = Keys().Section(root);
    if (!parent)
        return std::nullopt;
    const std::optional<std::string> child = KeySection(subKey ? WideToUtf8(subKey) : "");
    if (!child)
        return std::nullopt;
    const std::string below = child->substr(std::strlen("HKLM"));  // "" or "\\path"
    return *parent + below;
}

std::string ValueName(const wchar_t* name)
{
    return name ? WideToUtf8(name) : std::string();
}

LONG OpenOrCreate(HKEY root, const wchar_t* subKey, HKEY* key, bool create, DWORD* disposition)
{
    if (key == nullptr)
        return ERROR_INVALID_PARAMETER;
    *key = nullptr;
    const std::optional<std::string> section = ChildSection(root, subKey);
    if (!section)
        return Keys().Section(root) ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE;
    PhoneStore store;
    if (!store.Ok())
        return ERROR_NOT_READY;
    PhoneRegistry registry(store.Document());
    const bool exists = registry.KeyExists(*section);
    if (!exists) {
        if (!create)
            return ERROR_FILE_NOT_FOUND;
        registry.CreateKey(*section);
        if (!store.Save())
            return ERROR_WRITE_FAULT;
    }
    if (disposition)
        *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *key = Keys().Add(*section);
    return ERROR_SUCCESS;
}

}  // namespace

LONG PhoneRegOpenKey(HKEY root, const wchar_t* subKey, HKEY* key)
{
    return OpenOrCreate(root, subKey, key, false, nullptr);
}

LONG PhoneRegCreateKey(HKEY root, const wchar_t* subKey, HKEY* key, DWORD* disposition)
{
    return OpenOrCreate(root, subKey, key, true, disposition);
}

LONG PhoneRegQueryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* size)
{
    const std::optional<std::string> section = Keys().Section(key);
    if (!section)
        return ERROR_INVALID_HANDLE;
    if (data != nullptr && size == nullptr)
        return ERROR_INVALID_PARAMETER;
    PhoneStore store;
    if (!store.Ok())
        return ERROR_NOT_READY;
    PhoneRegistry registry(store.Document());
    if (!registry.KeyExists(*section))
        return ERROR_KEY_DELETED;
    const std::optional<RegistryValue> value = registry.GetValue(*section, ValueName(name));
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = value->type;
    const DWORD needed = static_cast<DWORD>(value->data.size());
    LONG result = ERROR_SUCCESS;
    if (data != nullptr) {
        // What fits is copied even when the buffer is short, so a caller that takes
        // ERROR_MORE_DATA as a read still gets the beginning of the value.
        const DWORD copied = needed <= *size ? needed : *size;
        if (copied > 0)
            std::memcpy(data, value->data.data(), copied);
        if (needed > *size)
            result = ERROR_MORE_DATA;
    }
    if (size)
        *size = needed;
    return result;
}

LONG PhoneRegSetValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size)
{
    const std::optional<std::string> section = Keys().Section(key);
    if (!section)
        return ERROR_INVALID_HANDLE;
    if (data == nullptr && size != 0)
        return ERROR_INVALID_PARAMETER;
    PhoneStore store;
    if (!store.Ok())
        return ERROR_NOT_READY;
    PhoneRegistry registry(store.Document());
    if (!registry.KeyExists(*section))
        return ERROR_KEY_DELETED;
    RegistryValue value;
    value.type = type;
    if (size > 0)
        value.data.assign(data, data + size);
    registry.SetValue(*section, ValueName(name), value);
    return store.Save() ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

LONG PhoneRegDeleteValue(HKEY key, const wchar_t* name)
{
    const std::optional<std::string> section = Keys().Section(key);
    if (!section)
        return ERROR_INVALID_HANDLE;
    PhoneStore store;
    if (!store.Ok())
        return ERROR_NOT_READY;
    PhoneRegistry registry(store.Document());
    if (!registry.DeleteValue(*section, ValueName(name)))
        return ERROR_FILE_NOT_FOUND;
    return store.Save() ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

LONG PhoneRegCloseKey(HKEY key)
{
    if (key == HKEY_LOCAL_MACHINE)
        return ERROR_SUCCESS;
    return Keys().Remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace flashwise::simphone
