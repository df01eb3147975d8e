#include "platform/kernel/service_store.h"

#include "platform/base/errors.h"
#include "platform/registry/registry.h"

#include <cstring>

namespace platform::kernel::service_store {
namespace {

constexpr char16_t kServicesKey[] = u"System\\CurrentControlSet\\Services";

bool ValidName(const std::u16string& name) {
    return !name.empty() && name.find_first_of(u"/\\") == std::u16string::npos && name != u"." && name != u"..";
}

using Key = platform::OwnedKey;

bool Open(const std::u16string& serviceName, REGSAM access, Key& key) {
    return ValidName(serviceName) &&
           RegOpenKeyExW(HKEY_LOCAL_MACHINE, KeyPath(serviceName).c_str(), 0, access, key.put()) == ERROR_SUCCESS;
}

// Deletes a key and everything below it, deepest keys first.
bool DeleteTree(HKEY parent, const std::u16string& name) {
    {
        Key key;
        if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
            return false;
        for (;;) {
            WCHAR child[256];
            DWORD size = 256;
            const LSTATUS status = RegEnumKeyExW(key.get(), 0, child, &size, nullptr, nullptr, nullptr, nullptr);
            if (status == ERROR_NO_MORE_ITEMS)
                break;
            if (status != ERROR_SUCCESS || !DeleteTree(key.get(), std::u16string(child, size)))
                return false;
        }
    }
    return RegDeleteKeyW(parent, name.c_str()) == ERROR_SUCCESS;
}

} // namespace

std::u16string KeyPath(const std::u16string& serviceName) {
    return std::u16string(kServicesKey) + u"\\" + serviceName;
}

bool Exists(const std::u16string& serviceName) {
    Key key;
    return Open(serviceName, KEY_QUERY_VALUE, key);
}

bool Create(const std::u16string& serviceName) {
    if (!ValidName(serviceName))
        return false;
    Key key;
    DWORD disposition = 0;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, KeyPath(serviceName).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, key.put(), &disposition) != ERROR_SUCCESS)
        return false;
    return disposition == REG_CREATED_NEW_KEY;
}

bool Remove(const std::u16string& serviceName) {
    Key services;
    if (!ValidName(serviceName) ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServicesKey, 0, KEY_ALL_ACCESS, services.put()) != ERROR_SUCCESS)
        return false;
    return DeleteTree(services.get(), serviceName);
}

bool SetValue(const std::u16string& serviceName, const std::u16string& valueName, DWORD type, const void* data,
              size_t size) {
    Key key;
    if (size > 0xFFFFFFFFu || !Open(serviceName, KEY_SET_VALUE, key))
        return false;
    return RegSetValueExW(key.get(), valueName.c_str(), 0, type, static_cast<const BYTE*>(data),
                          static_cast<DWORD>(size)) == ERROR_SUCCESS;
}

std::optional<Value> GetValue(const std::u16string& serviceName, const std::u16string& valueName) {
    Key key;
    if (!Open(serviceName, KEY_QUERY_VALUE, key))
        return std::nullopt;
    Value value;
    // Another process may change the value between the two calls; ask again until the size holds.
    for (;;) {
        DWORD size = 0;
        if (RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
            return std::nullopt;
        value.data.resize(size);
        const LSTATUS status =
            RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &value.type, value.data.data(), &size);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            return std::nullopt;
        value.data.resize(size);
        return value;
    }
}

bool SetString(const std::u16string& serviceName, const std::u16string& valueName, const std::u16string& text) {
    return SetValue(serviceName, valueName, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(char16_t));
}

std::optional<std::u16string> GetString(const std::u16string& serviceName, const std::u16string& valueName) {
    auto value = GetValue(serviceName, valueName);
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ))
        return std::nullopt;
    std::u16string text(value->data.size() / 2, u'\0');
    memcpy(text.data(), value->data.data(), text.size() * 2);
    while (!text.empty() && text.back() == u'\0')
        text.pop_back();
    return text;
}

bool SetDword(const std::u16string& serviceName, const std::u16string& valueName, DWORD value) {
    return SetValue(serviceName, valueName, REG_DWORD, &value, sizeof(value));
}

std::optional<DWORD> GetDword(const std::u16string& serviceName, const std::u16string& valueName) {
    auto value = GetValue(serviceName, valueName);
    if (!value || value->type != REG_DWORD || value->data.size() != 4)
        return std::nullopt;
    DWORD result;
    memcpy(&result, value->data.data(), 4);
    return result;
}

std::vector<std::u16string> Services() {
    std::vector<std::u16string> names;
    Key services;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServicesKey, 0, KEY_ENUMERATE_SUB_KEYS, services.put()) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD size = 256;
        if (RegEnumKeyExW(services.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, size);
    }
    return names;
}

} // namespace platform::kernel::service_store
