// Special folders: the shell's own folders by item id list, the user's folders by path.
#include "platform/shell/specialfolders.h"
#include "platform/shell/shell_internal.h"

#include "platform/base/errors.h"
#include "platform/base/unknwn.h"
#include "platform/fs/files.h"

namespace platform::shell {
namespace {

// The path of a file-system special folder; "" for the shell's own folders and for unknown numbers.
bool FolderPath(int csidl, std::u16string& path) {
    const UserFolders u = GetUserFolders();
    switch (csidl) {
    case CSIDL_DESKTOP:
    case CSIDL_DESKTOPDIRECTORY:
        path = u.desktop;
        return true;
    case CSIDL_PERSONAL:
        path = u.documents;
        return true;
    case CSIDL_FAVORITES:
        path = u.favorites;
        return true;
    case CSIDL_FONTS:
        path = u.fonts;
        return true;
    case CSIDL_APPDATA:
        path = u.appData;
        return true;
    case CSIDL_LOCAL_APPDATA:
        path = u.localAppData;
        return true;
    case CSIDL_PROFILE:
        path = u.profile;
        return true;
    default:
        return false;
    }
}

// Makes every missing level of a folder path.
bool MakeFolders(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const size_t slash = path.find_last_of(u'\\');
    if (slash != std::u16string::npos && slash > 2 && !MakeFolders(path.substr(0, slash)))
        return false;
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// S_OK with the path of an existing (or made) folder; S_FALSE when it does not exist; E_FAIL without a path.
HRESULT Locate(int csidl, std::u16string& path) {
    if (!FolderPath(csidl & ~CSIDL_FLAG_MASK, path))
        return E_INVALIDARG;
    if (path.empty())
        return E_FAIL;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return S_OK;
    if ((csidl & CSIDL_FLAG_CREATE) && MakeFolders(path))
        return S_OK;
    return S_FALSE;
}

} // namespace
} // namespace platform::shell

using namespace platform::shell;

HRESULT SHGetFolderLocation(HWND, int csidl, HANDLE, DWORD, PIDLIST_ABSOLUTE* ppidl) {
    if (!ppidl)
        return E_INVALIDARG;
    *ppidl = nullptr;
    const int folder = csidl & ~CSIDL_FLAG_MASK;
    std::vector<Item> items;
    Item drives;
    drives.kind = ItemKind::Virtual;
    drives.csidl = CSIDL_DRIVES;
    if (folder == CSIDL_DESKTOP) {
        // The empty list.
    } else if (folder == CSIDL_DRIVES) {
        items.push_back(drives);
    } else if (folder == CSIDL_CONTROLS) {
        Item controls = drives;
        controls.csidl = CSIDL_CONTROLS;
        items = {drives, controls};
    } else {
        std::u16string path;
        const HRESULT hr = Locate(csidl, path);
        if (FAILED(hr))
            return hr;
        if (hr == S_FALSE)
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        DWORD error = 0;
        auto found = ItemsOfPath(path, &error);
        if (!found)
            return HRESULT_FROM_WIN32(error);
        items = std::move(*found);
    }
    *ppidl = MakeList(items);
    return *ppidl ? S_OK : E_OUTOFMEMORY;
}

HRESULT SHGetSpecialFolderLocation(HWND hwnd, int csidl, PIDLIST_ABSOLUTE* ppidl) {
    return SHGetFolderLocation(hwnd, csidl, nullptr, 0, ppidl);
}

HRESULT SHGetFolderPathW(HWND, int csidl, HANDLE, DWORD, LPWSTR pszPath) {
    if (!pszPath)
        return E_INVALIDARG;
    pszPath[0] = 0;
    std::u16string path;
    const HRESULT hr = Locate(csidl, path);
    if (FAILED(hr))
        return hr;
    if (path.size() >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    path.copy(pszPath, path.size());
    pszPath[path.size()] = 0;
    return hr;
}

BOOL SHGetSpecialFolderPathW(HWND hwnd, LPWSTR pszPath, int csidl, BOOL fCreate) {
    const HRESULT hr = SHGetFolderPathW(hwnd, csidl | (fCreate ? CSIDL_FLAG_CREATE : 0), nullptr, 0, pszPath);
    return hr == S_OK;
}
