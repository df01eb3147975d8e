// Shell folders: IShellFolder and IEnumIDList over the desktop, My Computer, the Control Panel, drives, shares and
// folders, with SHGetDesktopFolder, SHGetMalloc, SHBindToParent and StrRetToBufW.
//
// Stands in for the shell namespace. The same as Windows: the desktop folder is the root; it holds My Computer, the
// user's profile folder and what lies in the user's desktop folder; My Computer holds the drives; a folder parses a
// path into a list relative to itself (ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND as an HRESULT when a part does
// not exist, ERROR_NOT_READY for a drive without a readable root), binds a child list to the child's folder,
// enumerates its children by SHCONTF flags (hidden ones only with SHCONTF_INCLUDEHIDDEN), answers SFGAO attributes,
// orders two lists (CompareIDs: the shell's folders, then drives by letter, then folders before files, names without
// regard to case) and names its items by SHGDN flags; names come back as STRRET_WSTR texts of the task allocator.
// GetUIObjectOf gives the context menu of one item (contextmenu.h).
//
// Where it differs: display names are the file names themselves (no extension is hidden); a drive shows as its label
// or "Local Disk", "Removable Disk", "CD Drive", "Network Drive" followed by " (C:)"; a folder that a special folder
// lives at shows the name Windows gives it ("My Documents"). Folders the shell has listed are watched for changes
// (changenotify.h). The desktop folder is one object for the whole process.
#pragma once

#include "platform/base/unknwn.h"
#include "platform/shell/idlist.h"

struct IBindCtx;

constexpr UINT STRRET_WSTR = 0;
constexpr UINT STRRET_OFFSET = 1;
constexpr UINT STRRET_CSTR = 2;

struct STRRET {
    UINT uType;
    union {
        LPWSTR pOleStr;
        UINT uOffset;
        char cStr[MAX_PATH];
    };
};
using LPSTRRET = STRRET*;

using SHGDNF = DWORD;
constexpr SHGDNF SHGDN_NORMAL = 0x0000;
constexpr SHGDNF SHGDN_INFOLDER = 0x0001;
constexpr SHGDNF SHGDN_FOREDITING = 0x1000;
constexpr SHGDNF SHGDN_FORADDRESSBAR = 0x4000;
constexpr SHGDNF SHGDN_FORPARSING = 0x8000;
constexpr SHGDNF SHGDN_INCLUDE_NONFILESYS = 0x2000;

using SFGAOF = ULONG;
constexpr SFGAOF SFGAO_CANCOPY = 0x00000001;
constexpr SFGAOF SFGAO_CANMOVE = 0x00000002;
constexpr SFGAOF SFGAO_CANLINK = 0x00000004;
constexpr SFGAOF SFGAO_STORAGE = 0x00000008;
constexpr SFGAOF SFGAO_CANRENAME = 0x00000010;
constexpr SFGAOF SFGAO_CANDELETE = 0x00000020;
constexpr SFGAOF SFGAO_HASPROPSHEET = 0x00000040;
constexpr SFGAOF SFGAO_DROPTARGET = 0x00000100;
constexpr SFGAOF SFGAO_LINK = 0x00010000;
constexpr SFGAOF SFGAO_SHARE = 0x00020000;
constexpr SFGAOF SFGAO_READONLY = 0x00040000;
constexpr SFGAOF SFGAO_GHOSTED = 0x00080000;
constexpr SFGAOF SFGAO_HIDDEN = 0x00080000;
constexpr SFGAOF SFGAO_NONENUMERATED = 0x00100000;
constexpr SFGAOF SFGAO_STREAM = 0x00400000;
constexpr SFGAOF SFGAO_STORAGEANCESTOR = 0x00800000;
constexpr SFGAOF SFGAO_VALIDATE = 0x01000000;
constexpr SFGAOF SFGAO_REMOVABLE = 0x02000000;
constexpr SFGAOF SFGAO_COMPRESSED = 0x04000000;
constexpr SFGAOF SFGAO_FILESYSANCESTOR = 0x10000000;
constexpr SFGAOF SFGAO_FOLDER = 0x20000000;
constexpr SFGAOF SFGAO_FILESYSTEM = 0x40000000;
constexpr SFGAOF SFGAO_HASSUBFOLDER = 0x80000000;

using SHCONTF = DWORD;
constexpr SHCONTF SHCONTF_FOLDERS = 0x0020;
constexpr SHCONTF SHCONTF_NONFOLDERS = 0x0040;
constexpr SHCONTF SHCONTF_INCLUDEHIDDEN = 0x0080;

constexpr LPARAM SHCIDS_ALLFIELDS = static_cast<LPARAM>(0x80000000u);
constexpr LPARAM SHCIDS_CANONICALONLY = 0x10000000;
constexpr LPARAM SHCIDS_COLUMNMASK = 0x0000FFFF;

#define MAKE_HRESULT(sev, fac, code)                                                                                   \
    static_cast<HRESULT>((static_cast<DWORD>(sev) << 31) | (static_cast<DWORD>(fac) << 16) | static_cast<DWORD>(code))
#define HRESULT_CODE(hr) ((hr)&0xFFFF)
constexpr DWORD SEVERITY_SUCCESS = 0;

inline constexpr IID IID_IShellFolder = {0x000214E6, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumIDList = {0x000214F2, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct IEnumIDList : IUnknown {
    // Gives up to celt new child lists (the caller frees each); S_FALSE when fewer than celt were left.
    virtual HRESULT Next(ULONG celt, PITEMID_CHILD* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumIDList** ppenum) = 0;

protected:
    ~IEnumIDList() = default;
};
using LPENUMIDLIST = IEnumIDList*;

struct IShellFolder : IUnknown {
    virtual HRESULT ParseDisplayName(HWND hwnd, IBindCtx* pbc, LPWSTR pszDisplayName, ULONG* pchEaten,
                                     PIDLIST_RELATIVE* ppidl, ULONG* pdwAttributes) = 0;
    virtual HRESULT EnumObjects(HWND hwnd, SHCONTF grfFlags, IEnumIDList** ppenumIDList) = 0;
    virtual HRESULT BindToObject(PCUIDLIST_RELATIVE pidl, IBindCtx* pbc, REFIID riid, void** ppv) = 0;
    virtual HRESULT BindToStorage(PCUIDLIST_RELATIVE pidl, IBindCtx* pbc, REFIID riid, void** ppv) = 0;
    virtual HRESULT CompareIDs(LPARAM lParam, PCUIDLIST_RELATIVE pidl1, PCUIDLIST_RELATIVE pidl2) = 0;
    virtual HRESULT CreateViewObject(HWND hwndOwner, REFIID riid, void** ppv) = 0;
    virtual HRESULT GetAttributesOf(UINT cidl, PCUITEMID_CHILD_ARRAY apidl, SFGAOF* rgfInOut) = 0;
    virtual HRESULT GetUIObjectOf(HWND hwndOwner, UINT cidl, PCUITEMID_CHILD_ARRAY apidl, REFIID riid,
                                  UINT* rgfReserved, void** ppv) = 0;
    virtual HRESULT GetDisplayNameOf(PCUITEMID_CHILD pidl, SHGDNF uFlags, STRRET* pName) = 0;
    virtual HRESULT SetNameOf(HWND hwnd, PCUITEMID_CHILD pidl, LPCWSTR pszName, SHGDNF uFlags,
                              PITEMID_CHILD* ppidlOut) = 0;

protected:
    ~IShellFolder() = default;
};
using LPSHELLFOLDER = IShellFolder*;

HRESULT SHGetDesktopFolder(IShellFolder** ppshf);
HRESULT SHGetMalloc(IMalloc** ppMalloc);
// The folder that holds the list's last item, and that item (a pointer into pidl).
HRESULT SHBindToParent(PCIDLIST_ABSOLUTE pidl, REFIID riid, void** ppv, PCUITEMID_CHILD* ppidlLast);
// Copies a STRRET's text (freeing a STRRET_WSTR text); pidl is the list a STRRET_OFFSET text lies in.
HRESULT StrRetToBufW(STRRET* pstr, PCUITEMID_CHILD pidl, LPWSTR pszBuf, UINT cchBuf);
