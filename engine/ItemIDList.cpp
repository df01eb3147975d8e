#include "engine/ItemIDList.h"

#include "engine/DesktopFolder.h"

#include "platform/base/unknwn.h"
#include "platform/shell/fileinfo.h"
#include "platform/shell/shellfolder.h"
#include "platform/shell/specialfolders.h"

#include <cstring>

namespace {

USHORT CountOf(LPCITEMIDLIST pidl) {
    USHORT cb = 0;
    std::memcpy(&cb, pidl, sizeof cb);
    return cb;
}

// The process's shell allocator, taken for the duration of one operation.
class SharedMalloc {
public:
    SharedMalloc() {
        if (s_malloc)
            s_malloc->AddRef();
        else if (FAILED(SHGetMalloc(&s_malloc)))
            s_malloc = nullptr;
    }
    ~SharedMalloc() {
        if (s_malloc && s_malloc->Release() == 0)
            s_malloc = nullptr;
    }
    SharedMalloc(const SharedMalloc&) = delete;
    SharedMalloc& operator=(const SharedMalloc&) = delete;
    IMalloc* operator->() const { return s_malloc; }
    explicit operator bool() const { return s_malloc != nullptr; }

private:
    static inline IMalloc* s_malloc = nullptr;
};

} // namespace

UINT CItemIDList::GetSize(LPCITEMIDLIST pidl) {
    if (!pidl)
        return 0;
    UINT size = 0;
    for (LPCITEMIDLIST p = pidl; CountOf(p) != 0;
         p = reinterpret_cast<LPCITEMIDLIST>(reinterpret_cast<const BYTE*>(p) + CountOf(p)))
        size += CountOf(p);
    return size;
}

LPITEMIDLIST CItemIDList::GetNext(LPCITEMIDLIST pidl) {
    if (!pidl || CountOf(pidl) == 0)
        return nullptr;
    auto* next = reinterpret_cast<LPITEMIDLIST>(const_cast<BYTE*>(reinterpret_cast<const BYTE*>(pidl)) + CountOf(pidl));
    return CountOf(next) == 0 ? nullptr : next;
}

LPITEMIDLIST CItemIDList::GetLast(LPCITEMIDLIST pidl) {
    if (!pidl)
        return nullptr;
    LPITEMIDLIST last = const_cast<LPITEMIDLIST>(pidl);
    for (LPITEMIDLIST p = last; (p = GetNext(p)) != nullptr;)
        last = p;
    return last;
}

LPITEMIDLIST CItemIDList::Concatenate(LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) {
    if (!pidl1 && !pidl2)
        return nullptr;
    SharedMalloc malloc;
    if (!malloc)
        return nullptr;
    const UINT size1 = GetSize(pidl1);
    const UINT size2 = GetSize(pidl2);
    auto* p = static_cast<BYTE*>(malloc->Alloc(size1 + size2 + sizeof(USHORT)));
    if (!p)
        return nullptr;
    if (size1)
        std::memcpy(p, pidl1, size1);
    if (size2)
        std::memcpy(p + size1, pidl2, size2);
    std::memset(p + size1 + size2, 0, sizeof(USHORT));
    return reinterpret_cast<LPITEMIDLIST>(p);
}

LPITEMIDLIST CItemIDList::CopyWithoutLast(LPCITEMIDLIST pidl) {
    if (!pidl)
        return nullptr;
    SharedMalloc malloc;
    if (!malloc)
        return nullptr;
    const LPITEMIDLIST last = GetLast(pidl);
    const UINT size =
        CountOf(pidl) == 0
            ? 0
            : static_cast<UINT>(reinterpret_cast<const BYTE*>(last) - reinterpret_cast<const BYTE*>(pidl));
    auto* p = static_cast<BYTE*>(malloc->Alloc(size + sizeof(USHORT)));
    if (!p)
        return nullptr;
    if (size)
        std::memcpy(p, pidl, size);
    std::memset(p + size, 0, sizeof(USHORT));
    return reinterpret_cast<LPITEMIDLIST>(p);
}

LPITEMIDLIST CItemIDList::FromPath(LPCTSTR lpszPath, HWND hWnd) {
    if (!lpszPath || !*lpszPath)
        return nullptr;
    CDesktopFolder desktop;
    if (!desktop.Get())
        return nullptr;
    CString path(lpszPath);
    LPITEMIDLIST pidl = nullptr;
    if (FAILED(desktop->ParseDisplayName(hWnd, nullptr, path.GetBuffer(), nullptr, &pidl, nullptr)))
        return nullptr;
    return pidl;
}

void CItemIDList::Free(LPITEMIDLIST pidl) {
    if (!pidl)
        return;
    SharedMalloc malloc;
    if (malloc)
        malloc->Free(pidl);
}

CItemIDList::CItemIDList(const CItemIDList& other) {
    *this = other;
}

CItemIDList& CItemIDList::operator=(const CItemIDList& other) {
    if (this == &other)
        return *this;
    Clear();
    if (!other.m_pidl)
        return *this;
    SharedMalloc malloc;
    if (!malloc)
        return *this;
    const SIZE_T size = malloc->GetSize(other.m_pidl);
    if (size == static_cast<SIZE_T>(-1))
        return *this;
    m_pidl = static_cast<LPITEMIDLIST>(malloc->Alloc(size));
    if (m_pidl)
        std::memcpy(m_pidl, other.m_pidl, size);
    return *this;
}

CItemIDList::CItemIDList(LPCITEMIDLIST pidl) : m_pidl(Concatenate(pidl, nullptr)) {}

CItemIDList::CItemIDList(LPCTSTR lpszPath, HWND hWnd) : m_pidl(FromPath(lpszPath, hWnd)) {}

CItemIDList::CItemIDList(int nCsidl, HWND hWnd) {
    if (FAILED(SHGetSpecialFolderLocation(hWnd, nCsidl, &m_pidl)))
        m_pidl = nullptr;
}

CItemIDList::~CItemIDList() {
    Clear();
}

void CItemIDList::Clear() {
    Free(m_pidl);
    m_pidl = nullptr;
}

void CItemIDList::Combine(LPCITEMIDLIST pidlParent, LPCITEMIDLIST pidlChild) {
    LPITEMIDLIST combined = Concatenate(pidlParent, pidlChild);
    Clear();
    m_pidl = combined;
}

LPITEMIDLIST* CItemIDList::GetAddressForOutput() {
    Clear();
    return &m_pidl;
}

LPITEMIDLIST CItemIDList::GetLastItem() const {
    return GetLast(m_pidl);
}

LPITEMIDLIST CItemIDList::GetParentCopy() const {
    return CopyWithoutLast(m_pidl);
}

CString CItemIDList::GetPath() const {
    if (!m_pidl)
        return CString();
    WCHAR path[2048] = {};
    if (!SHGetPathFromIDListW(m_pidl, path))
        return CString();
    return CString(path);
}

int CItemIDList::GetIconIndex(UINT uFlags) const {
    if (!m_pidl)
        return -1;
    SHFILEINFOW info{};
    if (!SHGetFileInfoW(reinterpret_cast<LPCWSTR>(m_pidl), 0, &info, sizeof info,
                        SHGFI_PIDL | SHGFI_SYSICONINDEX | uFlags))
        return -1;
    return info.iIcon;
}

BOOL CItemIDList::IsFolder() const {
    if (!m_pidl)
        return FALSE;
    SHFILEINFOW info{};
    if (!SHGetFileInfoW(reinterpret_cast<LPCWSTR>(m_pidl), 0, &info, sizeof info,
                        SHGFI_PIDL | SHGFI_ATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON))
        return FALSE;
    return (info.dwAttributes & SFGAO_FOLDER) != 0;
}
