#include "platform/res/resources.h"

#include "platform/base/errors.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/res/ResourceTable.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

namespace platform::res {
namespace {

std::atomic<const ResourceDirectory*> g_program{nullptr};

const ResourceDirectory* DirectoryOf(HMODULE module) {
    if (!module || module == GetModuleHandleW(nullptr))
        return g_program.load();
    auto exported = reinterpret_cast<const ResourceDirectory* (*)()>(GetProcAddress(module, "WinResourceDirectory"));
    if (!exported)
        return nullptr;
    const ResourceDirectory* directory = exported();
    if (!directory || directory->magic != kDirectoryMagic || directory->version != kDirectoryVersion)
        return nullptr;
    return directory;
}

// An integer id or a name, as the lookup functions accept them.
struct Key {
    bool isInteger = false;
    WORD id = 0;
    std::u16string name;
};

Key MakeKey(LPCWSTR value) {
    Key key;
    if (IS_INTRESOURCE(value)) {
        key.isInteger = true;
        key.id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(value));
        return key;
    }
    if (value[0] == u'#') {
        key.isInteger = true;
        key.id = static_cast<WORD>(wcstoul(value + 1, nullptr, 10));
        return key;
    }
    key.name = value;
    return key;
}

bool Matches(const Key& key, const char16_t* name, WORD id) {
    if (key.isInteger)
        return !name && id == key.id;
    return name && platform::EqualsNoCase(key.name, name);
}

const ResourceEntry* Find(HMODULE module, LPCWSTR type, LPCWSTR name, bool anyLanguage, WORD language) {
    if (!type || !name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const ResourceDirectory* directory = DirectoryOf(module);
    if (!directory) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    const Key typeKey = MakeKey(type);
    const Key nameKey = MakeKey(name);
    bool typeSeen = false;
    const ResourceEntry* first = nullptr;
    for (DWORD i = 0; i < directory->count; ++i) {
        const ResourceEntry& entry = directory->entries[i];
        if (!Matches(typeKey, entry.typeName, entry.typeId))
            continue;
        typeSeen = true;
        if (!Matches(nameKey, entry.name, entry.nameId))
            continue;
        if (anyLanguage || entry.language == language)
            return &entry;
        if (!first)
            first = &entry;
    }
    // A language that the module does not carry falls back to the resource in the language it has.
    if (first)
        return first;
    SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

const ResourceEntry* EntryOf(HRSRC resource) {
    return reinterpret_cast<const ResourceEntry*>(resource);
}

} // namespace

void RegisterProgramResources(const ResourceDirectory* directory) {
    g_program.store(directory);
}

} // namespace platform::res

using platform::res::EntryOf;

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
    return reinterpret_cast<HRSRC>(
        const_cast<platform::res::ResourceEntry*>(platform::res::Find(module, type, name, true, 0)));
}

HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
    return reinterpret_cast<HRSRC>(
        const_cast<platform::res::ResourceEntry*>(platform::res::Find(module, type, name, false, language)));
}

BOOL EnumResourceLanguagesW(HMODULE module, LPCWSTR type, LPCWSTR name, ENUMRESLANGPROCW callback, LONG_PTR param) {
    using namespace platform::res;
    if (!type || !name || !callback) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const ResourceDirectory* directory = DirectoryOf(module);
    if (!directory) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return FALSE;
    }
    const Key typeKey = MakeKey(type);
    const Key nameKey = MakeKey(name);
    bool typeSeen = false;
    std::vector<WORD> languages;
    for (DWORD i = 0; i < directory->count; ++i) {
        const ResourceEntry& entry = directory->entries[i];
        if (!Matches(typeKey, entry.typeName, entry.typeId))
            continue;
        typeSeen = true;
        if (Matches(nameKey, entry.name, entry.nameId) &&
            std::find(languages.begin(), languages.end(), entry.language) == languages.end())
            languages.push_back(entry.language);
    }
    if (languages.empty()) {
        SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    for (WORD language : languages) {
        if (!callback(module, type, name, language, param)) {
            SetLastError(ERROR_RESOURCE_ENUM_USER_STOP);
            return FALSE;
        }
    }
    return TRUE;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
    if (!resource) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return reinterpret_cast<HGLOBAL>(const_cast<BYTE*>(EntryOf(resource)->data));
}

LPVOID LockResource(HGLOBAL resourceData) {
    return resourceData;
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
    if (!resource) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return EntryOf(resource)->size;
}

BOOL FreeResource(HGLOBAL) {
    return FALSE;
}

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax) {
    if (!buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (bufferMax > 0)
        buffer[0] = 0;
    HRSRC block = FindResourceW(instance, MAKEINTRESOURCEW((id >> 4) + 1), RT_STRING);
    if (!block)
        return 0;
    const platform::res::ResourceEntry* entry = EntryOf(block);
    // Sixteen strings, each a 16-bit length followed by that many characters.
    const BYTE* p = entry->data;
    const BYTE* end = entry->data + entry->size;
    WORD length = 0;
    for (UINT index = 0;; ++index) {
        if (end - p < 2) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return 0;
        }
        std::memcpy(&length, p, 2);
        p += 2;
        if (static_cast<size_t>(end - p) < length * 2u) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return 0;
        }
        if (index == (id & 15))
            break;
        p += length * 2u;
    }
    if (length == 0) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    if (bufferMax == 0) {
        const WCHAR* text = reinterpret_cast<const WCHAR*>(p);
        std::memcpy(buffer, &text, sizeof(text));
        return length;
    }
    const int copied = std::min<int>(length, bufferMax - 1);
    std::memcpy(buffer, p, static_cast<size_t>(copied) * 2);
    buffer[copied] = 0;
    return copied;
}
