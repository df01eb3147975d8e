// The object namespace: directories, device names and symbolic links, walked by name.
#include "platform/kernel/io_private.h"

#include "platform/base/strings.h"

#include <atomic>

namespace platform::kernel {
namespace {

std::vector<std::u16string> SplitPath(std::u16string_view path) {
    std::vector<std::u16string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos)
            end = path.size();
        if (end > start)
            parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::u16string JoinFrom(const std::vector<std::u16string>& parts, size_t from) {
    std::u16string result;
    for (size_t i = from; i < parts.size(); ++i)
        result += u"\\" + parts[i];
    return result;
}

Resolved Failure(NTSTATUS status) {
    Resolved resolved;
    resolved.status = status;
    return resolved;
}

} // namespace

ObjectNamespace& Names() {
    static ObjectNamespace names;
    return names;
}

void EnsureRootLocked() {
    auto& entries = Names().entries;
    if (!entries.empty())
        return;
    entries[u""] = NamespaceEntry{EntryKind::Directory, u"\\", {}, {}, true};
    entries[u"\\DEVICE"] = NamespaceEntry{EntryKind::Directory, u"\\Device", {}, {}, true};
    entries[u"\\GLOBAL??"] = NamespaceEntry{EntryKind::Directory, u"\\GLOBAL??", {}, {}, true};
    entries[u"\\??"] = NamespaceEntry{EntryKind::SymbolicLink, u"\\??", {}, u"\\GLOBAL??", true};
    entries[u"\\DOSDEVICES"] = NamespaceEntry{EntryKind::SymbolicLink, u"\\DosDevices", {}, u"\\??", true};
}

// Walks a path through the namespace. Symbolic links on the way are followed, the last one only when
// `followLast` is set. "\??\NAME" looks at the session's definitions of NAME before the global directory.
Resolved ResolveLocked(std::u16string path, bool followLast) {
    EnsureRootLocked();
    for (int depth = 0; depth < 32; ++depth) {
        if (path.empty() || path[0] != u'\\')
            return Failure(STATUS_OBJECT_PATH_SYNTAX_BAD);
        const auto parts = SplitPath(path);
        std::u16string key;
        bool restart = false;
        for (size_t i = 0; i < parts.size(); ++i) {
            const bool last = i + 1 == parts.size();
            std::u16string candidate = key + u"\\" + FoldName(parts[i]);
            if (candidate == u"\\??" && !last) {
                auto local = Names().localDosDevices.find(FoldName(parts[i + 1]));
                if (local != Names().localDosDevices.end() && !local->second.empty() &&
                    (i + 2 < parts.size() || followLast)) {
                    path = local->second.back() + JoinFrom(parts, i + 2);
                    restart = true;
                    break;
                }
            }
            auto it = Names().entries.find(candidate);
            if (it == Names().entries.end())
                return Failure(last ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_OBJECT_PATH_NOT_FOUND);
            NamespaceEntry& entry = it->second;
            if (entry.kind == EntryKind::SymbolicLink && (!last || followLast)) {
                path = entry.target + JoinFrom(parts, i + 1);
                restart = true;
                break;
            }
            if (!last && entry.kind != EntryKind::Directory)
                return Failure(STATUS_OBJECT_PATH_NOT_FOUND);
            key = std::move(candidate);
        }
        if (!restart) {
            auto it = Names().entries.find(key);
            return {STATUS_SUCCESS, key, &it->second};
        }
    }
    return Failure(STATUS_OBJECT_PATH_NOT_FOUND);
}

NTSTATUS InsertLocked(const std::u16string& name, NamespaceEntry entry, std::u16string* keyOut) {
    EnsureRootLocked();
    if (name.size() < 2 || name[0] != u'\\' || name.back() == u'\\')
        return STATUS_OBJECT_NAME_INVALID;
    const size_t slash = name.rfind(u'\\');
    const std::u16string parent = name.substr(0, slash);
    const std::u16string leaf = name.substr(slash + 1);
    std::u16string parentKey;
    if (!parent.empty()) {
        Resolved resolved = ResolveLocked(parent, true);
        if (!NT_SUCCESS(resolved.status))
            return STATUS_OBJECT_PATH_NOT_FOUND;
        if (resolved.entry->kind != EntryKind::Directory)
            return STATUS_OBJECT_PATH_NOT_FOUND;
        parentKey = resolved.key;
    }
    const std::u16string key = parentKey + u"\\" + FoldName(leaf);
    if (Names().entries.count(key))
        return STATUS_OBJECT_NAME_COLLISION;
    entry.name = name;
    Names().entries[key] = std::move(entry);
    if (keyOut)
        *keyOut = key;
    return STATUS_SUCCESS;
}

std::u16string ToU16(PCUNICODE_STRING string) {
    if (!string || !string->Buffer)
        return {};
    return std::u16string(string->Buffer, string->Length / sizeof(WCHAR));
}

std::u16string FoldName(std::u16string_view name) {
    std::u16string folded(name);
    for (auto& c : folded)
        c = platform::FoldUpper(c);
    return folded;
}

std::u16string ResolveName(const std::u16string& ntName) {
    std::lock_guard lock(Names().lock);
    Resolved resolved = ResolveLocked(ntName, true);
    return NT_SUCCESS(resolved.status) ? resolved.entry->name : std::u16string();
}

} // namespace platform::kernel

using namespace platform::kernel;

namespace {

std::atomic<platform::kernel::DriveLetterObserver> g_driveLetterObserver{nullptr};

// The drive letter (0..25) of a namespace key "\GLOBAL??\X:", or -1.
int LetterOfLinkKey(const std::u16string& key) {
    static const std::u16string prefix = u"\\GLOBAL??\\";
    if (key.size() != prefix.size() + 2 || key.compare(0, prefix.size(), prefix) != 0 || key.back() != u':')
        return -1;
    const char16_t letter = key[prefix.size()];
    return letter >= u'A' && letter <= u'Z' ? letter - u'A' : -1;
}

void TellDriveLetterObserver(const std::u16string& key, const std::u16string& target, bool created) {
    const int drive = LetterOfLinkKey(key);
    if (drive < 0)
        return;
    if (auto observer = g_driveLetterObserver.load())
        observer(drive, target, created);
}

} // namespace

void platform::kernel::SetDriveLetterObserver(DriveLetterObserver observer) {
    g_driveLetterObserver = observer;
}

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING symbolicLinkName, PUNICODE_STRING deviceName) {
    if (!symbolicLinkName || !deviceName)
        return STATUS_INVALID_PARAMETER;
    NamespaceEntry entry;
    entry.kind = EntryKind::SymbolicLink;
    entry.target = ToU16(deviceName);
    const std::u16string target = entry.target;
    std::u16string key;
    NTSTATUS status;
    {
        std::lock_guard lock(Names().lock);
        status = InsertLocked(ToU16(symbolicLinkName), std::move(entry), &key);
    }
    if (NT_SUCCESS(status))
        TellDriveLetterObserver(key, target, true);
    return status;
}

NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING symbolicLinkName) {
    if (!symbolicLinkName)
        return STATUS_INVALID_PARAMETER;
    std::u16string key;
    std::u16string target;
    {
        std::lock_guard lock(Names().lock);
        Resolved resolved = ResolveLocked(ToU16(symbolicLinkName), false);
        if (!NT_SUCCESS(resolved.status))
            return resolved.status;
        if (resolved.entry->kind != EntryKind::SymbolicLink)
            return STATUS_OBJECT_TYPE_MISMATCH;
        key = resolved.key;
        target = resolved.entry->target;
        Names().entries.erase(resolved.key);
    }
    TellDriveLetterObserver(key, target, false);
    return STATUS_SUCCESS;
}

namespace platform::kernel {
namespace {

class DirectoryObject : public KObject {
public:
    void OnLastHandleClosed() override {
        std::lock_guard lock(Names().lock);
        auto it = Names().entries.find(key);
        if (it != Names().entries.end() && !it->second.permanent)
            Names().entries.erase(it);
    }
    std::u16string key;
};

} // namespace
} // namespace platform::kernel

NTSTATUS ZwCreateDirectoryObject(PHANDLE directoryHandle, ACCESS_MASK, POBJECT_ATTRIBUTES objectAttributes) {
    if (!directoryHandle || !objectAttributes || !objectAttributes->ObjectName)
        return STATUS_INVALID_PARAMETER;
    auto directory = std::make_shared<DirectoryObject>();
    NamespaceEntry entry;
    entry.kind = EntryKind::Directory;
    entry.permanent = (objectAttributes->Attributes & OBJ_PERMANENT) != 0;
    {
        std::lock_guard lock(Names().lock);
        const NTSTATUS status = InsertLocked(ToU16(objectAttributes->ObjectName), std::move(entry), &directory->key);
        if (!NT_SUCCESS(status))
            return status;
    }
    *directoryHandle = InsertKernelHandle(directory);
    return STATUS_SUCCESS;
}

NTSTATUS ZwMakeTemporaryObject(HANDLE handle) {
    auto directory = LookupKernelHandleAs<DirectoryObject>(handle);
    if (!directory)
        return STATUS_INVALID_HANDLE;
    std::lock_guard lock(Names().lock);
    auto it = Names().entries.find(directory->key);
    if (it != Names().entries.end())
        it->second.permanent = false;
    return STATUS_SUCCESS;
}

NTSTATUS ZwClose(HANDLE handle) {
    return CloseKernelHandle(handle);
}
