#include "platform/registry/registry.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/registry/fonttable.h"
#include "platform/registry/hive.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>

using platform::registry::Bytes;
using platform::registry::Hive;
using platform::registry::KeyId;
using platform::registry::Path;

namespace {

constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;

struct RootHive {
    DWORD id;
    const char* name;
};
constexpr RootHive kRoots[] = {
    {0x80000000u, "HKEY_CLASSES_ROOT"}, {0x80000001u, "HKEY_CURRENT_USER"},   {0x80000002u, "HKEY_LOCAL_MACHINE"},
    {0x80000003u, "HKEY_USERS"},        {0x80000005u, "HKEY_CURRENT_CONFIG"},
};

// An open key: the hive, the key's id in it and the access the handle was opened with.
struct OpenKey {
    std::shared_ptr<Hive> hive;
    KeyId id = 0;
    REGSAM access = 0;
};

// Handles of opened keys are kept apart from the predefined roots and from kernel-object handles.
constexpr uintptr_t kFirstHandle = 0x20000000u;

struct State {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<Hive>> hives; // by root name, for the current machine folder
    std::map<uintptr_t, OpenKey> keys;
    uintptr_t nextHandle = kFirstHandle;
};

State& GetState() {
    static auto* state = new State; // never destroyed: handles may be closed while the process exits
    return *state;
}

// A new machine folder means other hives: forget the open ones and every handle into them.
void OnMachineReset() {
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    state.hives.clear();
    state.keys.clear();
}

void RegisterResetListener() {
    static std::once_flag once;
    std::call_once(once, [] { platform::machine::AddResetListener(&OnMachineReset); });
}

// The predefined root a handle value names, if any (the 32-bit value may arrive sign-extended).
const RootHive* PredefinedRoot(HKEY key) {
    const auto value = reinterpret_cast<uintptr_t>(key);
    const uintptr_t high = value >> 32;
    if (high != 0 && high != 0xFFFFFFFFu)
        return nullptr;
    const auto low = static_cast<DWORD>(value & 0xFFFFFFFFu);
    for (const auto& root : kRoots) {
        if (root.id == low)
            return &root;
    }
    return nullptr;
}

std::shared_ptr<Hive> HiveOf(State& state, const RootHive& root, LONG& error) {
    auto found = state.hives.find(root.name);
    if (found != state.hives.end())
        return found->second;
    const std::string folder = platform::machine::PathOf("registry");
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    auto hive = Hive::Open(folder + "/" + root.name + ".db", error);
    if (hive)
        state.hives.emplace(root.name, hive);
    return hive;
}

// Resolves a handle: a predefined root (full access, its hive's root key) or an opened key.
LONG Resolve(HKEY key, OpenKey& resolved) {
    RegisterResetListener();
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    if (const RootHive* root = PredefinedRoot(key)) {
        LONG error = ERROR_SUCCESS;
        auto hive = HiveOf(state, *root, error);
        if (!hive)
            return error;
        resolved = {std::move(hive), platform::registry::kRootKey, KEY_ALL_ACCESS};
        return ERROR_SUCCESS;
    }
    auto found = state.keys.find(reinterpret_cast<uintptr_t>(key));
    if (found == state.keys.end())
        return ERROR_INVALID_HANDLE;
    resolved = found->second;
    return ERROR_SUCCESS;
}

HKEY InsertKey(OpenKey key) {
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    const uintptr_t handle = state.nextHandle;
    state.nextHandle += 4;
    state.keys.emplace(handle, std::move(key));
    return reinterpret_cast<HKEY>(handle);
}

// Generic rights map onto the key rights as Windows maps them; MAXIMUM_ALLOWED grants everything.
REGSAM MapAccess(REGSAM desired) {
    REGSAM access = desired & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
    if (desired & (GENERIC_READ | GENERIC_EXECUTE))
        access |= KEY_READ;
    if (desired & GENERIC_WRITE)
        access |= KEY_WRITE;
    if (desired & (GENERIC_ALL | MAXIMUM_ALLOWED))
        access |= KEY_ALL_ACCESS;
    return access & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY);
}

// Splits a subkey path at backslashes. Null and empty name the key itself; one trailing backslash is allowed;
// a leading backslash or an empty component is a bad path; a component may hold at most 255 characters.
LONG SplitPath(LPCWSTR subKey, Path& path) {
    path.clear();
    if (!subKey || !*subKey)
        return ERROR_SUCCESS;
    std::u16string_view rest(subKey);
    if (rest.front() == u'\\')
        return ERROR_BAD_PATHNAME;
    if (rest.back() == u'\\')
        rest.remove_suffix(1);
    while (true) {
        const size_t slash = rest.find(u'\\');
        std::u16string_view component = rest.substr(0, slash);
        if (component.empty())
            return ERROR_BAD_PATHNAME;
        if (component.size() > kMaxKeyNameLength)
            return ERROR_INVALID_PARAMETER;
        path.emplace_back(component);
        if (slash == std::u16string_view::npos)
            return ERROR_SUCCESS;
        rest.remove_prefix(slash + 1);
    }
}

LONG ValueName(LPCWSTR name, std::u16string& out) {
    out = name ? std::u16string(name) : std::u16string();
    return out.size() > kMaxValueNameLength ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

// Copies a name into a caller's buffer of `*size` characters (terminator included); on success `*size` becomes
// the name's length. A buffer that is too small leaves both untouched.
LONG CopyName(const std::u16string& name, LPWSTR buffer, LPDWORD size) {
    if (!buffer || !size)
        return ERROR_INVALID_PARAMETER;
    if (name.size() + 1 > *size)
        return ERROR_MORE_DATA;
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = u'\0';
    *size = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

// Hands data out the Win32 way: no buffer asks for the size; a small buffer gets ERROR_MORE_DATA and the size.
LONG CopyData(const Bytes& data, LPBYTE buffer, LPDWORD size) {
    if (!size)
        return ERROR_SUCCESS;
    const auto needed = static_cast<DWORD>(data.size());
    if (buffer && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (buffer && needed)
        std::memcpy(buffer, data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

void ToFileTime(int64_t ticks, PFILETIME time) {
    if (!time)
        return;
    time->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) & 0xFFFFFFFFu);
    time->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
}

LONG OpenOrCreate(HKEY key, LPCWSTR subKey, REGSAM desired, bool create, PHKEY result, LPDWORD disposition) {
    if (!result)
        return ERROR_INVALID_PARAMETER;
    if (key == HKEY_LOCAL_MACHINE)
        platform::registry::RefreshFontTableIfNamed(subKey);
    OpenKey parent;
    if (LONG error = Resolve(key, parent))
        return error;
    Path path;
    if (LONG error = SplitPath(subKey, path))
        return error;
    OpenKey opened{parent.hive, 0, MapAccess(desired)};
    bool created = false;
    // Most creations open a key that exists: look first, so that only a real creation takes the write lock.
    LONG error = parent.hive->Find(parent.id, path, opened.id);
    if (create && error == ERROR_FILE_NOT_FOUND)
        error = parent.hive->Create(parent.id, path, (parent.access & KEY_CREATE_SUB_KEY) != 0, opened.id, created);
    if (error)
        return error;
    *result = InsertKey(std::move(opened));
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

// Resolves a handle for an operation that needs `right`.
LONG ResolveFor(HKEY key, REGSAM right, OpenKey& resolved) {
    if (LONG error = Resolve(key, resolved))
        return error;
    return (resolved.access & right) == right ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

} // namespace

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR, DWORD options, REGSAM desired,
                        LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    if (reserved != 0)
        return ERROR_INVALID_PARAMETER;
    // Volatile keys would vanish at the next boot; this store has no boots, so they are not offered.
    if (options & REG_OPTION_VOLATILE)
        return ERROR_NOT_SUPPORTED;
    if (options != REG_OPTION_NON_VOLATILE)
        return ERROR_INVALID_PARAMETER;
    return OpenOrCreate(key, subKey, desired, true, result, disposition);
}

LSTATUS RegCreateKeyW(HKEY key, LPCWSTR subKey, PHKEY result) {
    return OpenOrCreate(key, subKey, MAXIMUM_ALLOWED, true, result, nullptr);
}

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM desired, PHKEY result) {
    return OpenOrCreate(key, subKey, desired, false, result, nullptr);
}

LSTATUS RegCloseKey(HKEY key) {
    if (PredefinedRoot(key))
        return ERROR_SUCCESS;
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    return state.keys.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    if (!subKey)
        return ERROR_INVALID_PARAMETER;
    OpenKey parent;
    if (LONG error = Resolve(key, parent))
        return error;
    Path path;
    if (LONG error = SplitPath(subKey, path))
        return error;
    KeyId target = 0;
    if (LONG error = parent.hive->Find(parent.id, path, target))
        return error;
    return parent.hive->DeleteKey(target);
}

LSTATUS RegFlushKey(HKEY key) {
    OpenKey resolved;
    if (LONG error = Resolve(key, resolved))
        return error;
    return resolved.hive->CheckKey(resolved.id);
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (reserved || (data && !dataSize))
        return ERROR_INVALID_PARAMETER;
    OpenKey resolved;
    if (LONG error = ResolveFor(key, KEY_QUERY_VALUE, resolved))
        return error;
    std::u16string name;
    if (LONG error = ValueName(valueName, name))
        return error;
    DWORD storedType = 0;
    Bytes stored;
    if (LONG error = resolved.hive->QueryValue(resolved.id, name, storedType, stored))
        return error;
    if (type)
        *type = storedType;
    return CopyData(stored, data, dataSize);
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize) {
    if (reserved != 0)
        return ERROR_INVALID_PARAMETER;
    if (!data && dataSize)
        return ERROR_NOACCESS;
    OpenKey resolved;
    if (LONG error = ResolveFor(key, KEY_SET_VALUE, resolved))
        return error;
    std::u16string name;
    if (LONG error = ValueName(valueName, name))
        return error;
    return resolved.hive->SetValue(resolved.id, name, type, data, dataSize);
}

LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName) {
    OpenKey resolved;
    if (LONG error = ResolveFor(key, KEY_SET_VALUE, resolved))
        return error;
    std::u16string name;
    if (LONG error = ValueName(valueName, name))
        return error;
    return resolved.hive->DeleteValue(resolved.id, name);
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved, LPWSTR keyClass,
                      LPDWORD classSize, PFILETIME lastWriteTime) {
    if (reserved || !name || !nameSize || (keyClass && !classSize))
        return ERROR_INVALID_PARAMETER;
    OpenKey resolved;
    if (LONG error = ResolveFor(key, KEY_ENUMERATE_SUB_KEYS, resolved))
        return error;
    std::u16string found;
    int64_t written = 0;
    if (LONG error = resolved.hive->EnumKey(resolved.id, index, found, written))
        return error;
    if (keyClass) {
        if (*classSize < 1)
            return ERROR_MORE_DATA;
        keyClass[0] = u'\0';
    }
    if (LONG error = CopyName(found, name, nameSize))
        return error;
    if (classSize)
        *classSize = 0;
    ToFileTime(written, lastWriteTime);
    return ERROR_SUCCESS;
}

LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameSize, LPDWORD reserved, LPDWORD type,
                      LPBYTE data, LPDWORD dataSize) {
    if (reserved || !valueName || !valueNameSize || (data && !dataSize))
        return ERROR_INVALID_PARAMETER;
    OpenKey resolved;
    if (LONG error = ResolveFor(key, KEY_QUERY_VALUE, resolved))
        return error;
    platform::registry::Value value;
    if (LONG error = resolved.hive->EnumValue(resolved.id, index, value))
        return error;
    if (LONG error = CopyName(value.name, valueName, valueNameSize))
        return error;
    if (type)
        *type = value.type;
    return CopyData(value.data, data, dataSize);
}

LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classSize, LPDWORD reserved, LPDWORD subKeys,
                         LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength,
                         LPDWORD maxValueLength, LPDWORD securityDescriptorSize, PFILETIME lastWriteTime) {
    if (reserved || (keyClass && !classSize))
        return ERROR_INVALID_PARAMETER;
    OpenKey resolved;
    if (LONG error = ResolveFor(key, KEY_QUERY_VALUE, resolved))
        return error;
    platform::registry::KeyInfo info;
    if (LONG error = resolved.hive->QueryInfo(resolved.id, info))
        return error;
    if (keyClass) {
        if (*classSize < 1)
            return ERROR_MORE_DATA;
        keyClass[0] = u'\0';
    }
    if (classSize)
        *classSize = 0;
    if (subKeys)
        *subKeys = info.subKeys;
    if (maxSubKeyLength)
        *maxSubKeyLength = info.maxSubKeyLength;
    if (maxClassLength)
        *maxClassLength = 0;
    if (values)
        *values = info.values;
    if (maxValueNameLength)
        *maxValueNameLength = info.maxValueNameLength;
    if (maxValueLength)
        *maxValueLength = info.maxValueLength;
    if (securityDescriptorSize)
        *securityDescriptorSize = 0;
    ToFileTime(info.lastWrite, lastWriteTime);
    return ERROR_SUCCESS;
}
