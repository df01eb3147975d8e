// Item id lists: the list primitives, the layer's item bytes and where a list leads.
#include "platform/shell/idlist.h"
#include "platform/shell/shell_internal.h"
#include "platform/shell/specialfolders.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/base/unknwn.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/fs/paths.h"

#include <algorithm>
#include <cstring>

namespace platform::shell {
namespace {

USHORT CountOf(LPCSHITEMID id) {
    USHORT cb = 0;
    std::memcpy(&cb, id, sizeof cb);
    return cb;
}

LPCSHITEMID First(PCUIDLIST_RELATIVE pidl) {
    return &pidl->mkid;
}

LPCSHITEMID After(LPCSHITEMID id) {
    return reinterpret_cast<LPCSHITEMID>(reinterpret_cast<const BYTE*>(id) + CountOf(id));
}

// Writes the item's payload (everything after the count).
std::vector<BYTE> Payload(const Item& item) {
    std::vector<BYTE> bytes(1, static_cast<BYTE>(item.kind));
    bytes.reserve(1 + 3 * sizeof(DWORD) + (item.name.size() + item.target.size()) * sizeof(char16_t));
    auto put = [&](const void* p, size_t n) {
        if (n == 0)
            return;
        const size_t at = bytes.size();
        bytes.resize(at + n);
        std::memcpy(bytes.data() + at, p, n);
    };
    auto putText = [&](const std::u16string& s) {
        const auto n = static_cast<DWORD>(s.size());
        put(&n, sizeof n);
        put(s.data(), s.size() * sizeof(char16_t));
    };
    switch (item.kind) {
    case ItemKind::Virtual:
        put(&item.csidl, sizeof item.csidl);
        break;
    case ItemKind::Drive:
    case ItemKind::Share:
        putText(item.name);
        break;
    case ItemKind::Folder:
    case ItemKind::File:
        put(&item.attributes, sizeof item.attributes);
        putText(item.name);
        break;
    case ItemKind::Link:
        put(&item.attributes, sizeof item.attributes);
        putText(item.name);
        putText(item.target);
        break;
    }
    return bytes;
}

class Reader {
public:
    Reader(const BYTE* p, size_t n) : m_p(p), m_n(n) {}
    template <typename T> bool Get(T& value) {
        if (m_n < sizeof(T))
            return false;
        std::memcpy(&value, m_p, sizeof(T));
        m_p += sizeof(T);
        m_n -= sizeof(T);
        return true;
    }
    bool Text(std::u16string& s) {
        DWORD n = 0;
        if (!Get(n) || m_n < static_cast<size_t>(n) * sizeof(char16_t))
            return false;
        s.resize(n);
        std::memcpy(s.data(), m_p, static_cast<size_t>(n) * sizeof(char16_t));
        m_p += static_cast<size_t>(n) * sizeof(char16_t);
        m_n -= static_cast<size_t>(n) * sizeof(char16_t);
        return true;
    }
    // The text where it lies (not aligned for char16_t: read it with memcpy).
    bool TextView(const BYTE*& text, size_t& length) {
        DWORD n = 0;
        if (!Get(n) || m_n < static_cast<size_t>(n) * sizeof(char16_t))
            return false;
        text = m_p;
        length = n;
        m_p += static_cast<size_t>(n) * sizeof(char16_t);
        m_n -= static_cast<size_t>(n) * sizeof(char16_t);
        return true;
    }

private:
    const BYTE* m_p;
    size_t m_n;
};

WCHAR Upper(WCHAR c) {
    return towupper_w(c);
}

} // namespace

PIDLIST_RELATIVE MakeItem(const Item& item) {
    return MakeList({item});
}

std::vector<BYTE> ItemBytes(const Item& item) {
    std::vector<BYTE> payload = Payload(item);
    if (payload.size() + sizeof(USHORT) > 0xFFFF)
        return {};
    const auto cb = static_cast<USHORT>(payload.size() + sizeof(USHORT));
    std::vector<BYTE> bytes(cb + sizeof(USHORT), 0);
    std::memcpy(bytes.data(), &cb, sizeof cb);
    std::memcpy(bytes.data() + sizeof cb, payload.data(), payload.size());
    return bytes;
}

int ItemRank(ItemKind kind) {
    switch (kind) {
    case ItemKind::Virtual:
        return 0;
    case ItemKind::Link:
        return 1;
    case ItemKind::Drive:
        return 2;
    case ItemKind::Share:
        return 3;
    case ItemKind::Folder:
        return 4;
    case ItemKind::File:
        return 5;
    }
    return 6;
}

bool ReadItemKey(LPCSHITEMID id, ItemKey& out) {
    const USHORT cb = CountOf(id);
    if (cb < sizeof(USHORT) + 1)
        return false;
    Reader r(id->abID, cb - sizeof(USHORT));
    BYTE kind = 0;
    r.Get(kind);
    out = ItemKey{};
    out.kind = static_cast<ItemKind>(kind);
    switch (out.kind) {
    case ItemKind::Virtual:
        return r.Get(out.csidl);
    case ItemKind::Folder:
    case ItemKind::File:
    case ItemKind::Link: {
        DWORD attributes = 0;
        if (!r.Get(attributes))
            return false;
        [[fallthrough]];
    }
    case ItemKind::Drive:
    case ItemKind::Share:
        return r.TextView(out.name, out.length);
    }
    return false;
}

int CompareItemKeys(const ItemKey& a, const ItemKey& b) {
    const int rankA = ItemRank(a.kind), rankB = ItemRank(b.kind);
    if (rankA != rankB)
        return rankA < rankB ? -1 : 1;
    if (a.kind == ItemKind::Virtual)
        return a.csidl == b.csidl ? 0 : (a.csidl < b.csidl ? -1 : 1);
    auto at = [](const BYTE* text, size_t i) {
        char16_t c = 0;
        std::memcpy(&c, text + i * sizeof(char16_t), sizeof c);
        return c;
    };
    const size_t n = std::min(a.length, b.length);
    // Without regard to case first (as the names sort on Windows), then exactly, so that no two names tie.
    for (size_t i = 0; i < n; ++i) {
        const WCHAR x = Upper(at(a.name, i)), y = Upper(at(b.name, i));
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.length != b.length)
        return a.length < b.length ? -1 : 1;
    for (size_t i = 0; i < n; ++i) {
        const char16_t x = at(a.name, i), y = at(b.name, i);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

PIDLIST_ABSOLUTE MakeList(const std::vector<Item>& items) {
    std::vector<BYTE> bytes;
    for (const Item& item : items) {
        const std::vector<BYTE> payload = Payload(item);
        if (payload.size() + sizeof(USHORT) > 0xFFFF)
            return nullptr;
        const auto cb = static_cast<USHORT>(payload.size() + sizeof(USHORT));
        const auto* c = reinterpret_cast<const BYTE*>(&cb);
        bytes.insert(bytes.end(), c, c + sizeof cb);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
    }
    bytes.push_back(0);
    bytes.push_back(0);
    void* p = CoTaskMemAlloc(bytes.size());
    if (!p)
        return nullptr;
    std::memcpy(p, bytes.data(), bytes.size());
    return static_cast<PIDLIST_ABSOLUTE>(p);
}

PITEMID_CHILD NewNamedItem(ItemKind kind, DWORD attributes, std::u16string_view name) {
    // The same bytes as Payload gives for a folder or file, written in place.
    const size_t payload = 1 + 2 * sizeof(DWORD) + name.size() * sizeof(char16_t);
    if (payload + sizeof(USHORT) > 0xFFFF)
        return nullptr;
    const auto cb = static_cast<USHORT>(payload + sizeof(USHORT));
    auto* p = static_cast<BYTE*>(CoTaskMemAlloc(cb + sizeof(USHORT)));
    if (!p)
        return nullptr;
    const auto length = static_cast<DWORD>(name.size());
    BYTE* at = p;
    std::memcpy(at, &cb, sizeof cb);
    at += sizeof cb;
    *at++ = static_cast<BYTE>(kind);
    std::memcpy(at, &attributes, sizeof attributes);
    at += sizeof attributes;
    std::memcpy(at, &length, sizeof length);
    at += sizeof length;
    if (!name.empty())
        std::memcpy(at, name.data(), name.size() * sizeof(char16_t));
    at += name.size() * sizeof(char16_t);
    const USHORT end = 0;
    std::memcpy(at, &end, sizeof end);
    return reinterpret_cast<PITEMID_CHILD>(p);
}

bool ReadItem(LPCSHITEMID id, Item& out) {
    const USHORT cb = CountOf(id);
    if (cb < sizeof(USHORT) + 1)
        return false;
    Reader r(id->abID, cb - sizeof(USHORT));
    BYTE kind = 0;
    r.Get(kind);
    out = Item{};
    out.kind = static_cast<ItemKind>(kind);
    switch (out.kind) {
    case ItemKind::Virtual:
        return r.Get(out.csidl);
    case ItemKind::Drive:
    case ItemKind::Share:
        return r.Text(out.name);
    case ItemKind::Folder:
    case ItemKind::File:
        return r.Get(out.attributes) && r.Text(out.name);
    case ItemKind::Link:
        return r.Get(out.attributes) && r.Text(out.name) && r.Text(out.target);
    }
    return false;
}

std::u16string JoinPath(const std::u16string& folder, const std::u16string& name) {
    if (folder.empty())
        return name;
    if (folder.back() == u'\\')
        return folder + name;
    return folder + u'\\' + name;
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i]))
            return false;
    return true;
}

bool IsInside(const std::u16string& path, const std::u16string& folder) {
    std::u16string f = folder;
    while (f.size() > 3 && f.back() == u'\\')
        f.pop_back();
    if (path.size() < f.size() || !EqualNoCase(path.substr(0, f.size()), f))
        return false;
    return path.size() == f.size() || f.back() == u'\\' || path[f.size()] == u'\\';
}

namespace {

// One more item on the way down a list: false when the item cannot stand there.
bool Step(Place& place, LPCSHITEMID id) {
    Item item;
    if (!ReadItem(id, item))
        return false;
    // Names directly on the desktop lie in the user's desktop folder.
    const bool named = item.kind == ItemKind::Folder || item.kind == ItemKind::File;
    const std::u16string parent = place.desktop && named ? GetUserFolders().desktop : place.path;
    const bool parentVirtual = !place.desktop && place.virtualCsidl != 0;
    place.desktop = false;
    place.virtualCsidl = 0;
    place.attributes = 0;
    switch (item.kind) {
    case ItemKind::Virtual:
        place.virtualCsidl = item.csidl;
        place.path.clear();
        place.folder = true;
        break;
    case ItemKind::Drive:
    case ItemKind::Share:
        place.path = item.name;
        place.folder = true;
        place.attributes = FILE_ATTRIBUTE_DIRECTORY;
        break;
    case ItemKind::Folder:
    case ItemKind::File:
        if (parent.empty() || parentVirtual)
            return false;
        place.path = JoinPath(parent, item.name);
        place.folder = item.kind == ItemKind::Folder;
        place.attributes = item.attributes;
        break;
    case ItemKind::Link:
        place.path = item.target;
        place.folder = true;
        place.attributes = item.attributes;
        break;
    default:
        return false;
    }
    place.last = std::move(item);
    return true;
}

// The place of the list before its last item, as last resolved on this thread. The items of one folder are
// resolved one after the other, each several times, and all share it. Below the desktop a place follows from the
// bytes alone, so the same bytes give the same place.
struct ParentMemo {
    std::vector<BYTE> bytes;
    Place place;
};

} // namespace

Place Resolve(PCIDLIST_ABSOLUTE pidl) {
    Place place;
    if (!pidl)
        return place;
    place.valid = true;
    place.desktop = true;
    place.folder = true;
    LPCSHITEMID last = nullptr;
    for (LPCSHITEMID id = First(pidl); CountOf(id) != 0; id = After(id))
        last = id;
    const auto* start = reinterpret_cast<const BYTE*>(pidl);
    const size_t parentSize = last ? static_cast<size_t>(reinterpret_cast<const BYTE*>(last) - start) : 0;
    thread_local ParentMemo memo;
    LPCSHITEMID from = First(pidl);
    // A name right on the desktop lies wherever the user's desktop folder is now: such a list is not remembered.
    const auto firstKind = CountOf(First(pidl)) > sizeof(USHORT) ? static_cast<ItemKind>(First(pidl)->abID[0])
                                                                   : ItemKind::File;
    const bool pure = firstKind != ItemKind::Folder && firstKind != ItemKind::File;
    if (parentSize > 0 && pure) {
        if (memo.bytes.size() == parentSize && std::memcmp(memo.bytes.data(), start, parentSize) == 0) {
            place = memo.place;
        } else {
            for (; from != last; from = After(from))
                if (!Step(place, from))
                    return Place{};
            memo.bytes.assign(start, start + parentSize);
            memo.place = place;
        }
        from = last;
    }
    for (LPCSHITEMID id = from; CountOf(id) != 0; id = After(id))
        if (!Step(place, id))
            return Place{};
    if (place.desktop)
        place.path = GetUserFolders().desktop;
    return place;
}

namespace {

// "C:\", "\\srv\share" or "" (with the rest of the path after the root in *rest).
std::u16string RootOf(const std::u16string& path, std::u16string& rest) {
    if (path.size() >= 2 && path[1] == u':' && iswalpha_w(path[0])) {
        rest = path.size() > 3 ? path.substr(3) : std::u16string();
        if (path.size() > 2 && path[2] != u'\\')
            return {};
        return std::u16string(1, Upper(path[0])) + u":\\";
    }
    if (path.size() > 2 && path[0] == u'\\' && path[1] == u'\\') {
        const size_t server = path.find(u'\\', 2);
        if (server == std::u16string::npos || server == 2)
            return {};
        const size_t share = path.find(u'\\', server + 1);
        const std::u16string root = path.substr(0, share);
        if (root.size() == server + 1)
            return {};
        rest = share == std::u16string::npos ? std::u16string() : path.substr(share + 1);
        return root;
    }
    return {};
}

std::u16string CleanPath(const std::u16string& input) {
    std::u16string path = input;
    if (path.rfind(u"\\\\?\\UNC\\", 0) == 0)
        path = u"\\\\" + path.substr(8);
    else if (path.rfind(u"\\\\?\\", 0) == 0)
        path = path.substr(4);
    for (char16_t& c : path)
        if (c == u'/')
            c = u'\\';
    return path;
}

std::vector<std::u16string> Components(const std::u16string& rest) {
    std::vector<std::u16string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i < rest.size() && rest[i] != u'\\')
            continue;
        if (i > start)
            parts.push_back(rest.substr(start, i - start));
        start = i + 1;
    }
    return parts;
}

Item RootItem(const std::u16string& root) {
    Item item;
    item.kind = root.size() == 3 && root[1] == u':' ? ItemKind::Drive : ItemKind::Share;
    item.name = root;
    return item;
}

Item DrivesItem() {
    Item item;
    item.kind = ItemKind::Virtual;
    item.csidl = CSIDL_DRIVES;
    return item;
}

} // namespace

std::optional<std::vector<Item>> ItemsOfPath(const std::u16string& input, DWORD* error) {
    auto fail = [&](DWORD e) {
        if (error)
            *error = e;
        return std::nullopt;
    };
    std::u16string path = CleanPath(input);
    if (path.size() == 2 && path[1] == u':')
        path += u'\\';
    std::u16string rest;
    const std::u16string root = RootOf(path, rest);
    if (root.empty())
        return fail(ERROR_INVALID_NAME);
    const std::vector<std::u16string> parts = Components(rest);
    for (const std::u16string& part : parts)
        if (part == u"." || part == u"..")
            return ItemsOfPath(platform::fs::NormalizeWindowsPath(path), error);
    const DWORD rootAttributes = GetFileAttributesW(root.c_str());
    if (rootAttributes == INVALID_FILE_ATTRIBUTES || !(rootAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return fail(root[1] == u':' ? ERROR_NOT_READY : ERROR_BAD_NETPATH);
    std::vector<Item> items;
    if (root[1] == u':')
        items.push_back(DrivesItem());
    items.push_back(RootItem(root));
    std::u16string sofar = root;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].find_first_of(u"*?") != std::u16string::npos)
            return fail(ERROR_INVALID_NAME);
        sofar = JoinPath(sofar, parts[i]);
        WIN32_FIND_DATAW data{};
        HANDLE find = FindFirstFileW(sofar.c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            return fail(i + 1 == parts.size() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        FindClose(find);
        Item item;
        item.attributes = data.dwFileAttributes;
        item.kind = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? ItemKind::Folder : ItemKind::File;
        item.name = data.cFileName;
        if (i + 1 < parts.size() && item.kind != ItemKind::Folder)
            return fail(ERROR_PATH_NOT_FOUND);
        sofar = JoinPath(sofar.substr(0, sofar.size() - parts[i].size()), item.name);
        items.push_back(std::move(item));
    }
    return items;
}

std::optional<std::vector<Item>> ItemsOfPathUnchecked(const std::u16string& input, bool lastIsFolder) {
    std::u16string path = CleanPath(input);
    if (path.size() == 2 && path[1] == u':')
        path += u'\\';
    std::u16string rest;
    const std::u16string root = RootOf(path, rest);
    if (root.empty())
        return std::nullopt;
    std::vector<Item> items;
    if (root[1] == u':')
        items.push_back(DrivesItem());
    items.push_back(RootItem(root));
    const std::vector<std::u16string> parts = Components(rest);
    for (size_t i = 0; i < parts.size(); ++i) {
        Item item;
        const bool folder = i + 1 < parts.size() || lastIsFolder;
        item.kind = folder ? ItemKind::Folder : ItemKind::File;
        item.attributes = folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        item.name = parts[i];
        items.push_back(std::move(item));
    }
    return items;
}

} // namespace platform::shell

using namespace platform::shell;

UINT ILGetSize(PCUIDLIST_RELATIVE pidl) {
    if (!pidl)
        return 0;
    UINT size = sizeof(USHORT);
    for (LPCSHITEMID id = First(pidl); CountOf(id) != 0; id = After(id))
        size += CountOf(id);
    return size;
}

PUIDLIST_RELATIVE ILGetNext(PCUIDLIST_RELATIVE pidl) {
    if (!pidl || CountOf(First(pidl)) == 0)
        return nullptr;
    return const_cast<PUIDLIST_RELATIVE>(reinterpret_cast<PCUIDLIST_RELATIVE>(After(First(pidl))));
}

PUIDLIST_RELATIVE ILFindLastID(PCUIDLIST_RELATIVE pidl) {
    if (!pidl)
        return nullptr;
    LPCSHITEMID last = First(pidl);
    for (LPCSHITEMID id = last; CountOf(id) != 0; id = After(id))
        last = id;
    return const_cast<PUIDLIST_RELATIVE>(reinterpret_cast<PCUIDLIST_RELATIVE>(last));
}

BOOL ILRemoveLastID(PUIDLIST_RELATIVE pidl) {
    if (!pidl || CountOf(First(pidl)) == 0)
        return FALSE;
    PUIDLIST_RELATIVE last = ILFindLastID(pidl);
    std::memset(last, 0, sizeof(USHORT));
    return TRUE;
}

BOOL ILIsEmpty(PCUIDLIST_RELATIVE pidl) {
    return !pidl || CountOf(First(pidl)) == 0;
}

PIDLIST_RELATIVE ILClone(PCUIDLIST_RELATIVE pidl) {
    if (!pidl)
        return nullptr;
    const UINT size = ILGetSize(pidl);
    void* p = CoTaskMemAlloc(size);
    if (p)
        std::memcpy(p, pidl, size);
    return static_cast<PIDLIST_RELATIVE>(p);
}

PITEMID_CHILD ILCloneFirst(PCUIDLIST_RELATIVE pidl) {
    if (!pidl)
        return nullptr;
    const USHORT cb = CountOf(First(pidl));
    auto* p = static_cast<BYTE*>(CoTaskMemAlloc(cb + sizeof(USHORT)));
    if (!p)
        return nullptr;
    std::memcpy(p, pidl, cb);
    std::memset(p + cb, 0, sizeof(USHORT));
    return reinterpret_cast<PITEMID_CHILD>(p);
}

PIDLIST_ABSOLUTE ILCombine(PCIDLIST_ABSOLUTE pidl1, PCUIDLIST_RELATIVE pidl2) {
    if (!pidl1 && !pidl2)
        return nullptr;
    const UINT size1 = pidl1 ? ILGetSize(pidl1) - sizeof(USHORT) : 0;
    const UINT size2 = pidl2 ? ILGetSize(pidl2) - sizeof(USHORT) : 0;
    auto* p = static_cast<BYTE*>(CoTaskMemAlloc(size1 + size2 + sizeof(USHORT)));
    if (!p)
        return nullptr;
    if (size1)
        std::memcpy(p, pidl1, size1);
    if (size2)
        std::memcpy(p + size1, pidl2, size2);
    std::memset(p + size1 + size2, 0, sizeof(USHORT));
    return reinterpret_cast<PIDLIST_ABSOLUTE>(p);
}

namespace {

bool SameItem(LPCSHITEMID a, LPCSHITEMID b) {
    Item x, y;
    if (!ReadItem(a, x) || !ReadItem(b, y))
        return CountOf(a) == CountOf(b) && std::memcmp(a, b, CountOf(a)) == 0;
    const bool fsX = x.kind == ItemKind::Folder || x.kind == ItemKind::File;
    const bool fsY = y.kind == ItemKind::Folder || y.kind == ItemKind::File;
    if (fsX && fsY)
        return EqualNoCase(x.name, y.name);
    return x.kind == y.kind && x.csidl == y.csidl && EqualNoCase(x.name, y.name) && EqualNoCase(x.target, y.target);
}

} // namespace

BOOL ILIsEqual(PCIDLIST_ABSOLUTE pidl1, PCIDLIST_ABSOLUTE pidl2) {
    if (!pidl1 || !pidl2)
        return pidl1 == pidl2;
    LPCSHITEMID a = First(pidl1);
    LPCSHITEMID b = First(pidl2);
    for (; CountOf(a) != 0 && CountOf(b) != 0; a = After(a), b = After(b))
        if (!SameItem(a, b))
            return FALSE;
    return CountOf(a) == 0 && CountOf(b) == 0;
}

BOOL ILIsParent(PCIDLIST_ABSOLUTE pidl1, PCIDLIST_ABSOLUTE pidl2, BOOL fImmediate) {
    if (!pidl1 || !pidl2)
        return FALSE;
    LPCSHITEMID a = First(pidl1);
    LPCSHITEMID b = First(pidl2);
    for (; CountOf(a) != 0; a = After(a), b = After(b))
        if (CountOf(b) == 0 || !SameItem(a, b))
            return FALSE;
    if (!fImmediate)
        return TRUE;
    return CountOf(b) != 0 && CountOf(After(b)) == 0;
}

void ILFree(PIDLIST_RELATIVE pidl) {
    CoTaskMemFree(pidl);
}

BOOL SHGetPathFromIDListEx(PCIDLIST_ABSOLUTE pidl, LPWSTR pszPath, DWORD cchPath, DWORD) {
    if (!pszPath || cchPath == 0)
        return FALSE;
    pszPath[0] = 0;
    const Place place = Resolve(pidl);
    if (!place.valid || place.path.empty() || place.path.size() >= cchPath)
        return FALSE;
    place.path.copy(pszPath, place.path.size());
    pszPath[place.path.size()] = 0;
    return TRUE;
}

BOOL SHGetPathFromIDListW(PCIDLIST_ABSOLUTE pidl, LPWSTR pszPath) {
    return SHGetPathFromIDListEx(pidl, pszPath, 2048, GPFIDL_DEFAULT);
}

PIDLIST_ABSOLUTE SHSimpleIDListFromPath(LPCWSTR pszPath) {
    if (!pszPath)
        return nullptr;
    const std::u16string path = pszPath;
    bool folder = !path.empty() && (path.back() == u'\\' || path.back() == u'/');
    if (!folder) {
        const DWORD attributes = GetFileAttributesW(pszPath);
        folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    auto items = ItemsOfPathUnchecked(path, folder);
    return items ? MakeList(*items) : nullptr;
}
