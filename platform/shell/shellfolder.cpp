// Shell folders over the layer's item id lists: one folder class for every kind of place, and the enumerator.
#include "platform/shell/shellfolder.h"
#include "platform/shell/shell_internal.h"
#include "platform/shell/specialfolders.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/fs/listing.h"
#include "platform/fs/paths.h"
#include "platform/fs/volumes.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

namespace platform::shell {
namespace {

// An owned item id list.
struct ListDeleter {
    void operator()(ITEMIDLIST* p) const { ILFree(p); }
};
using List = std::unique_ptr<ITEMIDLIST, ListDeleter>;

std::u16string CopyText(const std::u16string& s, LPWSTR* out) {
    auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(WCHAR)));
    if (p) {
        s.copy(p, s.size());
        p[s.size()] = 0;
    }
    *out = p;
    return s;
}

std::u16string DriveDisplayName(const std::u16string& root) {
    const WCHAR letter = root[0];
    std::u16string label;
    WCHAR volume[MAX_PATH + 1] = {};
    if (GetVolumeInformationW(root.c_str(), volume, MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr, 0))
        label = volume;
    if (label.empty()) {
        switch (GetDriveTypeW(root.c_str())) {
        case DRIVE_REMOVABLE:
            label = u"Removable Disk";
            break;
        case DRIVE_CDROM:
            label = u"CD Drive";
            break;
        case DRIVE_REMOTE:
            label = u"Network Drive";
            break;
        default:
            label = u"Local Disk";
            break;
        }
    }
    return label + u" (" + std::u16string(1, letter) + u":)";
}

std::u16string VirtualName(WORD csidl, bool parsing) {
    if (csidl == CSIDL_DRIVES)
        return parsing ? u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}" : u"My Computer";
    if (csidl == CSIDL_CONTROLS)
        return parsing ? u"::{21EC2020-3AEA-1069-A2DD-08002B30309D}" : u"Control Panel";
    return {};
}

bool HasSubfolder(const std::u16string& path) {
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW(JoinPath(path, u"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    bool found = false;
    do {
        const std::u16string name = data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != u"." && name != u"..")
            found = true;
    } while (!found && FindNextFileW(find, &data));
    FindClose(find);
    return found;
}

// The file-system part of a listing, shared by an enumerator and its clones: the entries wanted, in the order the
// folder sorts them in, their attributes read ahead while the enumerator's user goes on with those already read.
struct ListedEntries {
    platform::fs::FolderListing listing;
    std::vector<size_t> order;
    bool folders = false, files = false, hidden = false;
};

class EnumList final : public IEnumIDList {
public:
    EnumList(std::vector<std::vector<BYTE>> items, std::shared_ptr<ListedEntries> listed)
        : m_items(std::move(items)), m_listed(std::move(listed)) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumIDList)) {
            *ppv = static_cast<IEnumIDList*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override {
        const ULONG left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT Next(ULONG celt, PITEMID_CHILD* rgelt, ULONG* pceltFetched) override {
        if (!rgelt || (celt > 1 && !pceltFetched))
            return E_INVALIDARG;
        ULONG fetched = 0;
        while (fetched < celt) {
            if (!SkipLeftOut())
                break;
            PITEMID_CHILD item = nullptr;
            if (m_next < m_items.size()) {
                const std::vector<BYTE>& bytes = m_items[m_next];
                void* p = CoTaskMemAlloc(bytes.size());
                if (p)
                    std::memcpy(p, bytes.data(), bytes.size());
                item = static_cast<PITEMID_CHILD>(p);
            } else {
                const size_t i = m_listed->order[m_next - m_items.size()];
                const DWORD attributes = *m_listed->listing.Attributes(i);
                item = NewNamedItem((attributes & FILE_ATTRIBUTE_DIRECTORY) ? ItemKind::Folder : ItemKind::File,
                                    attributes, m_listed->listing.Name(i));
            }
            if (!item)
                break;
            rgelt[fetched++] = item;
            ++m_next;
        }
        if (pceltFetched)
            *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG celt) override {
        ULONG skipped = 0;
        while (skipped < celt && SkipLeftOut()) {
            ++m_next;
            ++skipped;
        }
        return skipped == celt ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        m_next = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumIDList** ppenum) override {
        if (!ppenum)
            return E_POINTER;
        auto* copy = new EnumList(m_items, m_listed);
        copy->m_next = m_next;
        *ppenum = copy;
        return S_OK;
    }

private:
    ~EnumList() = default;

    size_t Total() const { return m_items.size() + (m_listed ? m_listed->order.size() : 0); }

    // Moves past the listed entries that are gone or not asked for (their attributes tell): false at the end.
    bool SkipLeftOut() {
        for (; m_next < Total(); ++m_next) {
            if (m_next < m_items.size())
                return true;
            const auto attributes = m_listed->listing.Attributes(m_listed->order[m_next - m_items.size()]);
            if (!attributes)
                continue;
            const bool isFolder = (*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if ((isFolder && !m_listed->folders) || (!isFolder && !m_listed->files))
                continue;
            if ((*attributes & FILE_ATTRIBUTE_HIDDEN) && !m_listed->hidden)
                continue;
            return true;
        }
        return false;
    }

    std::atomic<ULONG> m_refs{1};
    std::vector<std::vector<BYTE>> m_items;  // the shell's own items, before the listed ones
    std::shared_ptr<ListedEntries> m_listed; // none for a folder that is not a file-system folder
    size_t m_next = 0;
};

std::vector<BYTE> BytesOf(const Item& item) {
    return ItemBytes(item);
}

// The listed entries that may be asked for (by kind), in the shell's order: folders before files, by name without
// regard to case, then exactly (a folder's names differ, so no two entries tie). The names are folded once, into
// one buffer.
std::vector<size_t> SortedEntries(const platform::fs::FolderListing& listing, bool folders, bool files) {
    struct Entry {
        bool file = false;
        uint32_t at = 0, length = 0; // of the folded name in `folded`
        size_t index = 0;
    };
    std::vector<Entry> entries;
    entries.reserve(listing.Size());
    size_t total = 0;
    for (size_t i = 0; i < listing.Size(); ++i)
        total += listing.Name(i).size();
    std::u16string folded;
    folded.reserve(total);
    for (size_t i = 0; i < listing.Size(); ++i) {
        const bool isFolder = listing.IsFolder(i);
        if ((isFolder && !folders) || (!isFolder && !files))
            continue;
        const std::u16string_view name = listing.Name(i);
        entries.push_back(Entry{!isFolder, static_cast<uint32_t>(folded.size()), static_cast<uint32_t>(name.size()), i});
        for (const char16_t c : name)
            folded += (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - (u'a' - u'A')) : c < 0x80 ? c : towupper_w(c);
    }
    // Names in a folder often share a long beginning ("IMG_0", "document "): that part is passed over four
    // characters at a time.
    const char16_t* const all = folded.data();
    auto compare = [all](const Entry& a, const Entry& b) {
        const char16_t* x = all + a.at;
        const char16_t* y = all + b.at;
        const uint32_t n = std::min(a.length, b.length);
        uint32_t i = 0;
        for (; i + 4 <= n; i += 4) {
            uint64_t u = 0, v = 0;
            std::memcpy(&u, x + i, sizeof u);
            std::memcpy(&v, y + i, sizeof v);
            if (u != v)
                break;
        }
        for (; i < n; ++i)
            if (x[i] != y[i])
                return x[i] < y[i] ? -1 : 1;
        return a.length == b.length ? 0 : (a.length < b.length ? -1 : 1);
    };
    std::sort(entries.begin(), entries.end(), [&listing, &compare](const Entry& a, const Entry& b) {
        if (a.file != b.file)
            return b.file;
        if (const int r = compare(a, b); r != 0)
            return r < 0;
        return listing.Name(a.index) < listing.Name(b.index);
    });
    std::vector<size_t> order;
    order.reserve(entries.size());
    for (const Entry& e : entries)
        order.push_back(e.index);
    return order;
}

class ShellFolder final : public IShellFolder {
public:
    // Takes the list (the folder's place from the desktop).
    explicit ShellFolder(PIDLIST_ABSOLUTE location, bool shared = false) : m_location(location), m_shared(shared) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IShellFolder)) {
            *ppv = static_cast<IShellFolder*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override {
        // The shared desktop folder is never freed; any other folder may be gone once its count is read.
        if (m_shared)
            return std::max<ULONG>(--m_refs, 1);
        const ULONG left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT ParseDisplayName(HWND, IBindCtx*, LPWSTR pszDisplayName, ULONG* pchEaten, PIDLIST_RELATIVE* ppidl,
                             ULONG* pdwAttributes) override {
        if (!ppidl)
            return E_INVALIDARG;
        *ppidl = nullptr;
        if (!pszDisplayName)
            return E_INVALIDARG;
        const std::u16string name = pszDisplayName;
        const Place place = Resolve(m_location.get());
        std::vector<Item> items;
        if (place.desktop && (name == VirtualName(CSIDL_DRIVES, true))) {
            Item drives;
            drives.kind = ItemKind::Virtual;
            drives.csidl = CSIDL_DRIVES;
            items.push_back(drives);
        } else if (place.desktop) {
            DWORD error = ERROR_FILE_NOT_FOUND;
            auto found = ItemsOfPath(name, &error);
            if (!found)
                return HRESULT_FROM_WIN32(error);
            items = std::move(*found);
        } else {
            if (place.path.empty() || name.empty())
                return E_INVALIDARG;
            DWORD error = ERROR_FILE_NOT_FOUND;
            auto found = ItemsOfPath(JoinPath(place.path, name), &error);
            if (!found)
                return HRESULT_FROM_WIN32(error);
            // The items below this folder: as many as the name has parts.
            size_t parts = 0;
            for (size_t i = 0; i < name.size(); ++i)
                if (name[i] != u'\\' && name[i] != u'/' && (i == 0 || name[i - 1] == u'\\' || name[i - 1] == u'/'))
                    ++parts;
            if (parts > found->size())
                return E_INVALIDARG;
            items.assign(found->end() - static_cast<long>(parts), found->end());
        }
        *ppidl = MakeList(items);
        if (!*ppidl)
            return E_OUTOFMEMORY;
        if (pchEaten)
            *pchEaten = static_cast<ULONG>(name.size());
        if (pdwAttributes) {
            List absolute(ILCombine(m_location.get(), *ppidl));
            *pdwAttributes = AttributesOf(Resolve(absolute.get()), *pdwAttributes);
        }
        return S_OK;
    }

    HRESULT EnumObjects(HWND, SHCONTF grfFlags, IEnumIDList** ppenum) override {
        if (!ppenum)
            return E_INVALIDARG;
        *ppenum = nullptr;
        const Place place = Resolve(m_location.get());
        if (!place.valid || !place.folder)
            return E_FAIL;
        std::vector<std::vector<BYTE>> items;
        std::shared_ptr<ListedEntries> listed;
        const bool folders = (grfFlags & SHCONTF_FOLDERS) != 0;
        const bool files = (grfFlags & SHCONTF_NONFOLDERS) != 0;
        const bool hidden = (grfFlags & SHCONTF_INCLUDEHIDDEN) != 0;
        if (place.desktop && folders) {
            const UserFolders user = GetUserFolders();
            if (!user.profile.empty()) {
                Item profile;
                profile.kind = ItemKind::Link;
                profile.attributes = FILE_ATTRIBUTE_DIRECTORY;
                profile.target = user.profile;
                std::u16string home = Utf8ToUtf16(std::getenv("USER") ? std::getenv("USER") : "");
                profile.name = home.empty() ? user.profile : home;
                items.push_back(BytesOf(profile));
            }
            Item drives;
            drives.kind = ItemKind::Virtual;
            drives.csidl = CSIDL_DRIVES;
            items.push_back(BytesOf(drives));
        }
        if (place.virtualCsidl == CSIDL_DRIVES && folders) {
            const DWORD mask = GetLogicalDrives();
            for (int i = 0; i < 26; ++i) {
                if (!(mask & (1u << i)))
                    continue;
                Item drive;
                drive.kind = ItemKind::Drive;
                drive.name = std::u16string(1, static_cast<char16_t>(u'A' + i)) + u":\\";
                items.push_back(BytesOf(drive));
            }
        } else if (place.virtualCsidl == CSIDL_CONTROLS && folders) {
            const UserFolders user = GetUserFolders();
            if (!user.fonts.empty()) {
                Item fonts;
                fonts.kind = ItemKind::Link;
                fonts.attributes = FILE_ATTRIBUTE_DIRECTORY;
                fonts.name = u"Fonts";
                fonts.target = user.fonts;
                items.push_back(BytesOf(fonts));
            }
        } else if (!place.path.empty()) {
            // The whole folder's names at once, in the folder's order, so that a view sorting them finds them in
            // order; the entries' attributes are read side by side while the items are handed out.
            listed = std::make_shared<ListedEntries>();
            listed->folders = folders;
            listed->files = files;
            listed->hidden = hidden;
            if (!listed->listing.Open(place.path.c_str())) {
                const DWORD error = GetLastError();
                if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES && !place.desktop)
                    return HRESULT_FROM_WIN32(error);
            }
            // The threads start on the entries asked for while the names are sorted, and go on in the order they
            // will be handed out in once it is known.
            std::vector<size_t> wanted;
            wanted.reserve(listed->listing.Size());
            for (size_t i = 0; i < listed->listing.Size(); ++i)
                if (listed->listing.IsFolder(i) ? folders : files)
                    wanted.push_back(i);
            listed->listing.ReadAhead(std::move(wanted));
            listed->order = SortedEntries(listed->listing, folders, files);
            listed->listing.ReadAhead(listed->order);
            NoteListedFolder(place.path);
        }
        *ppenum = new EnumList(std::move(items), std::move(listed));
        return S_OK;
    }

    HRESULT BindToObject(PCUIDLIST_RELATIVE pidl, IBindCtx*, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_INVALIDARG;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IShellFolder) && !IsEqualIID(riid, IID_IUnknown))
            return E_NOINTERFACE;
        if (ILIsEmpty(pidl))
            return E_INVALIDARG;
        List absolute(ILCombine(m_location.get(), pidl));
        if (!absolute)
            return E_OUTOFMEMORY;
        const Place place = Resolve(absolute.get());
        if (!place.valid)
            return E_INVALIDARG;
        if (!place.folder)
            return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
        *ppv = static_cast<IShellFolder*>(new ShellFolder(absolute.release()));
        return S_OK;
    }

    HRESULT BindToStorage(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void** ppv) override {
        if (ppv)
            *ppv = nullptr;
        return E_NOTIMPL;
    }

    HRESULT CompareIDs(LPARAM, PCUIDLIST_RELATIVE pidl1, PCUIDLIST_RELATIVE pidl2) override {
        if (!pidl1 || !pidl2)
            return E_INVALIDARG;
        PCUIDLIST_RELATIVE a = pidl1;
        PCUIDLIST_RELATIVE b = pidl2;
        for (;;) {
            const bool endA = ILIsEmpty(a), endB = ILIsEmpty(b);
            if (endA || endB)
                return MAKE_HRESULT(SEVERITY_SUCCESS, 0, static_cast<USHORT>(endA == endB ? 0 : (endA ? -1 : 1)));
            ItemKey x, y;
            if (!ReadItemKey(&a->mkid, x) || !ReadItemKey(&b->mkid, y))
                return E_INVALIDARG;
            if (const int r = CompareItemKeys(x, y); r != 0)
                return MAKE_HRESULT(SEVERITY_SUCCESS, 0, static_cast<USHORT>(static_cast<SHORT>(r)));
            a = ILGetNext(a);
            b = ILGetNext(b);
        }
    }

    HRESULT CreateViewObject(HWND, REFIID, void** ppv) override {
        if (ppv)
            *ppv = nullptr;
        return E_NOTIMPL;
    }

    HRESULT GetAttributesOf(UINT cidl, PCUITEMID_CHILD_ARRAY apidl, SFGAOF* rgfInOut) override {
        if (!rgfInOut)
            return E_INVALIDARG;
        if (cidl == 0 || !apidl) {
            *rgfInOut = AttributesOf(Resolve(m_location.get()), *rgfInOut);
            return S_OK;
        }
        SFGAOF result = *rgfInOut;
        for (UINT i = 0; i < cidl; ++i) {
            List absolute(ILCombine(m_location.get(), apidl[i]));
            const Place place = Resolve(absolute.get());
            if (!place.valid)
                return E_INVALIDARG;
            result &= AttributesOf(place, *rgfInOut);
        }
        *rgfInOut = result;
        return S_OK;
    }

    HRESULT GetUIObjectOf(HWND, UINT cidl, PCUITEMID_CHILD_ARRAY apidl, REFIID riid, UINT*, void** ppv) override {
        if (!ppv)
            return E_INVALIDARG;
        *ppv = nullptr;
        if (cidl != 1 || !apidl || !apidl[0])
            return E_INVALIDARG;
        List absolute(ILCombine(m_location.get(), apidl[0]));
        return CreateContextMenu(absolute.get(), riid, ppv);
    }

    HRESULT GetDisplayNameOf(PCUITEMID_CHILD pidl, SHGDNF uFlags, STRRET* pName) override {
        if (!pName)
            return E_INVALIDARG;
        std::memset(pName, 0, sizeof *pName);
        List absolute(ILCombine(m_location.get(), pidl));
        std::u16string name;
        if (!DisplayName(absolute.get(), uFlags, name))
            return E_INVALIDARG;
        pName->uType = STRRET_WSTR;
        CopyText(name, &pName->pOleStr);
        return pName->pOleStr ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT SetNameOf(HWND, PCUITEMID_CHILD, LPCWSTR, SHGDNF, PITEMID_CHILD* ppidlOut) override {
        if (ppidlOut)
            *ppidlOut = nullptr;
        return E_NOTIMPL;
    }

private:
    ~ShellFolder() = default;
    std::atomic<ULONG> m_refs{1};
    List m_location;
    bool m_shared;
};

ShellFolder& Desktop() {
    static ShellFolder* desktop = new ShellFolder(MakeList({}), true);
    return *desktop;
}

} // namespace

bool DisplayName(PCIDLIST_ABSOLUTE pidl, DWORD flags, std::u16string& name) {
    const Place place = Resolve(pidl);
    if (!place.valid)
        return false;
    const bool parsing = (flags & SHGDN_FORPARSING) != 0;
    const bool inFolder = (flags & SHGDN_INFOLDER) != 0;
    if (place.desktop) {
        name = parsing ? place.path : u"Desktop";
        return !name.empty();
    }
    if (place.virtualCsidl) {
        name = VirtualName(place.virtualCsidl, parsing);
        return !name.empty();
    }
    if (parsing && !inFolder) {
        name = place.path;
        return true;
    }
    const Item& item = place.last;
    switch (item.kind) {
    case ItemKind::Drive:
        name = parsing ? item.name : DriveDisplayName(item.name);
        return true;
    case ItemKind::Share:
        name = item.name;
        return true;
    case ItemKind::Link:
        name = parsing ? place.path.substr(place.path.find_last_of(u'\\') + 1) : item.name;
        return true;
    case ItemKind::Folder:
    case ItemKind::File:
        name = parsing ? std::u16string() : SpecialFolderDisplayName(place.path);
        if (name.empty())
            name = item.name;
        return true;
    default:
        return false;
    }
}

ULONG AttributesOf(const Place& place, ULONG asked) {
    if (!place.valid)
        return 0;
    ULONG a = 0;
    if (place.desktop || place.virtualCsidl) {
        a = SFGAO_FOLDER | SFGAO_HASSUBFOLDER | SFGAO_FILESYSANCESTOR;
        if (place.desktop)
            a |= SFGAO_FILESYSTEM | SFGAO_STORAGE;
        return a & asked;
    }
    const DWORD attributes = place.attributes;
    switch (place.last.kind) {
    case ItemKind::Drive: {
        a = SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR | SFGAO_STORAGE | SFGAO_CANLINK | SFGAO_DROPTARGET |
            SFGAO_HASPROPSHEET | SFGAO_HASSUBFOLDER;
        const UINT type = GetDriveTypeW(place.path.c_str());
        if (type == DRIVE_REMOVABLE || type == DRIVE_CDROM)
            a |= SFGAO_REMOVABLE;
        break;
    }
    case ItemKind::Share:
    case ItemKind::Link:
        a = SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR | SFGAO_STORAGE | SFGAO_HASSUBFOLDER |
            SFGAO_DROPTARGET | SFGAO_HASPROPSHEET;
        break;
    case ItemKind::Folder:
        a = SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR | SFGAO_STORAGE | SFGAO_CANCOPY | SFGAO_CANMOVE |
            SFGAO_CANRENAME | SFGAO_CANDELETE | SFGAO_CANLINK | SFGAO_HASPROPSHEET | SFGAO_DROPTARGET;
        if ((asked & SFGAO_HASSUBFOLDER) && HasSubfolder(place.path))
            a |= SFGAO_HASSUBFOLDER;
        break;
    case ItemKind::File:
        a = SFGAO_FILESYSTEM | SFGAO_STREAM | SFGAO_CANCOPY | SFGAO_CANMOVE | SFGAO_CANRENAME | SFGAO_CANDELETE |
            SFGAO_CANLINK | SFGAO_HASPROPSHEET;
        break;
    default:
        return 0;
    }
    if (attributes & FILE_ATTRIBUTE_HIDDEN)
        a |= SFGAO_HIDDEN;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        a |= SFGAO_LINK;
    if ((attributes & FILE_ATTRIBUTE_READONLY) && place.last.kind == ItemKind::File)
        a |= SFGAO_READONLY;
    if (attributes & FILE_ATTRIBUTE_COMPRESSED)
        a |= SFGAO_COMPRESSED;
    if ((asked & SFGAO_VALIDATE) && GetFileAttributesW(place.path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return 0;
    return a & asked;
}

} // namespace platform::shell

using namespace platform::shell;

HRESULT SHGetDesktopFolder(IShellFolder** ppshf) {
    if (!ppshf)
        return E_INVALIDARG;
    Desktop().AddRef();
    *ppshf = &Desktop();
    return S_OK;
}

HRESULT SHGetMalloc(IMalloc** ppMalloc) {
    return CoGetMalloc(MEMCTX_TASK, ppMalloc);
}

HRESULT SHBindToParent(PCIDLIST_ABSOLUTE pidl, REFIID riid, void** ppv, PCUITEMID_CHILD* ppidlLast) {
    if (!ppv || !pidl)
        return E_INVALIDARG;
    *ppv = nullptr;
    if (ppidlLast)
        *ppidlLast = nullptr;
    if (ILIsEmpty(pidl))
        return E_INVALIDARG;
    List parent(ILClone(pidl));
    if (!parent)
        return E_OUTOFMEMORY;
    ILRemoveLastID(parent.get());
    HRESULT hr = S_OK;
    if (ILIsEmpty(parent.get())) {
        hr = Desktop().QueryInterface(riid, ppv);
    } else {
        hr = Desktop().BindToObject(parent.get(), nullptr, riid, ppv);
    }
    if (SUCCEEDED(hr) && ppidlLast)
        *ppidlLast = ILFindLastID(pidl);
    return hr;
}

HRESULT StrRetToBufW(STRRET* pstr, PCUITEMID_CHILD pidl, LPWSTR pszBuf, UINT cchBuf) {
    if (!pstr || !pszBuf || cchBuf == 0)
        return E_INVALIDARG;
    pszBuf[0] = 0;
    switch (pstr->uType) {
    case STRRET_WSTR: {
        if (!pstr->pOleStr)
            return E_FAIL;
        lstrcpynW(pszBuf, pstr->pOleStr, static_cast<int>(cchBuf));
        CoTaskMemFree(pstr->pOleStr);
        pstr->pOleStr = nullptr;
        return S_OK;
    }
    case STRRET_CSTR: {
        const std::u16string text =
            platform::Utf8ToUtf16(std::string(pstr->cStr, strnlen(pstr->cStr, sizeof pstr->cStr)));
        lstrcpynW(pszBuf, text.c_str(), static_cast<int>(cchBuf));
        return S_OK;
    }
    case STRRET_OFFSET: {
        if (!pidl)
            return E_INVALIDARG;
        const char* text = reinterpret_cast<const char*>(pidl) + pstr->uOffset;
        lstrcpynW(pszBuf, platform::Utf8ToUtf16(text).c_str(), static_cast<int>(cchBuf));
        return S_OK;
    }
    default:
        return E_INVALIDARG;
    }
}
