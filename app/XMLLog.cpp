#include "app/XMLLog.h"

#include "app/UnicodeTextFile.h"

#include "platform/afx/ListCtrl.h"
#include "platform/afx/ModuleState.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/fs/copy.h"
#include "platform/fs/files.h"
#include "platform/fs/wholefile.h"
#include "platform/gdi/wingdi.h"
#include "platform/res/resources.h"

#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

// A save writes its text in pieces of this many characters.
constexpr size_t kWriteChunk = 32 * 1024;

constexpr WCHAR kLogItem[] = u"<LogItem>";
constexpr WCHAR kLogItemEnd[] = u"</LogItem>";
constexpr WCHAR kNumber[] = u"<Number>";
constexpr WCHAR kNumberEnd[] = u"</Number>";
constexpr WCHAR kLogCount[] = u"<LogCount>";
constexpr WCHAR kLogCountEnd[] = u"</LogCount>";

// The list view's look: grid lines and full-row select, and the widths of the type, date and text columns.
constexpr DWORD kListExtendedStyle = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
constexpr int kColumnWidths[3] = {40, 120, 200};
constexpr int kIconSize = 16;

struct IconDeleter {
    void operator()(HICON icon) const { DestroyIcon(icon); }
};
using IconHolder = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

// The text after the last path separator; the whole text when there is none.
CString LastComponent(LPCTSTR lpszPath) {
    if (!lpszPath)
        return CString();
    LPCTSTR name = lpszPath;
    for (LPCTSTR p = lpszPath; *p; ++p) {
        if (*p == u'\\' || *p == u'/')
            name = p + 1;
    }
    return CString(name);
}

// One element of the file: start tag, escaped text, end tag.
CString Element(LPCTSTR lpszName, LPCTSTR lpszText) {
    CString element;
    element.Format(u"<%s>%s</%s>", lpszName, static_cast<LPCTSTR>(CXMLLog::EscapeText(lpszText)), lpszName);
    return element;
}

// The text of an element of an item: between the first start tag and the first end tag after it; empty when either
// is missing.
CString ElementText(const CString& strItem, LPCTSTR lpszName) {
    CString start;
    start.Format(u"<%s>", lpszName);
    CString end;
    end.Format(u"</%s>", lpszName);
    const int first = strItem.Find(start);
    if (first < 0)
        return CString();
    const int from = first + start.GetLength();
    const int last = strItem.Find(end, from);
    if (last < 0)
        return CString();
    return CXMLLog::UnescapeText(strItem.Mid(from, last - from));
}

} // namespace

CXMLLog::CXMLLog() = default;

CXMLLog::~CXMLLog() {
    Save(FALSE);
    FreeAll();
    DetachListCtrl();
}

void CXMLLog::FreeAll() {
    m_items.clear();
}

WCHAR CXMLLog::TypeToLetter(int nType) {
    switch (nType) {
    case typeInformation:
        return u'I';
    case typeWarning:
        return u'W';
    case typeError:
        return u'E';
    case typeDebug:
        return u'D';
    default:
        return u'U';
    }
}

int CXMLLog::LetterToType(WCHAR chType) {
    switch (chType) {
    case u'I':
        return typeInformation;
    case u'W':
        return typeWarning;
    case u'E':
        return typeError;
    case u'D':
        return typeDebug;
    default:
        return 0x16;
    }
}

CString CXMLLog::EscapeText(LPCTSTR lpszText) {
    CString text;
    if (!lpszText)
        return text;
    for (LPCTSTR p = lpszText; *p; ++p) {
        switch (*p) {
        case u'&':
            text += u"&amp;";
            break;
        case u'<':
            text += u"&lt;";
            break;
        case u'>':
            text += u"&gt;";
            break;
        case u'\n':
            text += u"&#10;";
            break;
        case u'\r':
            text += u"&#13;";
            break;
        default:
            text += *p;
            break;
        }
    }
    return text;
}

CString CXMLLog::UnescapeText(const CString& strText) {
    struct Escape {
        const char16_t* sequence;
        int length;
        WCHAR ch;
    };
    static const Escape kEscapes[] = {
        {u"&amp;", 5, u'&'}, {u"&lt;", 4, u'<'}, {u"&gt;", 4, u'>'}, {u"&#10;", 5, u'\n'}, {u"&#13;", 5, u'\r'},
    };
    if (strText.Find(u'&') < 0)
        return strText;
    const std::u16string& source = strText.Str();
    std::u16string text;
    text.reserve(source.size());
    for (size_t i = 0; i < source.size();) {
        bool replaced = false;
        if (source[i] == u'&') {
            for (const Escape& escape : kEscapes) {
                if (source.compare(i, static_cast<size_t>(escape.length), escape.sequence) == 0) {
                    text += escape.ch;
                    i += static_cast<size_t>(escape.length);
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            text += source[i++];
    }
    return CString(std::u16string_view(text));
}

BOOL CXMLLog::FileExists(LPCTSTR lpszPath) {
    if (GetFileAttributesW(lpszPath) != INVALID_FILE_ATTRIBUTES)
        return TRUE;
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

void CXMLLog::GetApVersion(LPCTSTR lpszFilePath, CString& strVersion) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(lpszFilePath, &handle);
    if (size == 0)
        return;
    std::vector<BYTE> block(static_cast<size_t>(size) * 2);
    if (!GetFileVersionInfoW(lpszFilePath, handle, size, block.data()))
        return;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), u"\\", reinterpret_cast<LPVOID*>(&fixed), &length) || !fixed ||
        length < sizeof(VS_FIXEDFILEINFO))
        return;
    WORD* translation = nullptr;
    if (!VerQueryValueW(block.data(), u"\\VarFileInfo\\Translation", reinterpret_cast<LPVOID*>(&translation),
                        &length) ||
        !translation || length < 2 * sizeof(WORD))
        return;
    CString subBlock;
    subBlock.Format(u"\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], u"SpecialBuild");
    LPWSTR special = nullptr;
    if (!VerQueryValueW(block.data(), subBlock, reinterpret_cast<LPVOID*>(&special), &length) || !special)
        return;
    const CString build(special, static_cast<int>(length > 0 ? lstrlenW(special) : 0));
    if (build.IsEmpty()) {
        strVersion.Format(u"%d.%d.%d.%d", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                          HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
        return;
    }
    strVersion.Format(u"%d.%d.%d.%d Build %s", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                      HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS), static_cast<LPCTSTR>(build));
}

void CXMLLog::Init(LPCTSTR lpszLogPath, LPCTSTR lpszTempPath, DWORD dwMaxItems, BOOL bKeep) {
    m_strLogPath = lpszLogPath;
    m_strTempPath = lpszTempPath;
    m_dwMaxItems = dwMaxItems;
    if (m_strAppName.IsEmpty()) {
        // The program's name and version are read from its file once: every log of the process writes the same.
        static const std::pair<CString, CString> program = [] {
            std::pair<CString, CString> found;
            WCHAR path[MAX_PATH + 1] = {};
            const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
            if (length > 0 && length < MAX_PATH) {
                found.first = LastComponent(path);
                GetApVersion(path, found.second);
            }
            if (found.second.IsEmpty())
                found.second = u"Debug Version";
            return found;
        }();
        m_strAppName = program.first;
        m_strAppVersion = program.second;
    }
    m_nStoredCount = 0;
    if (!bKeep) {
        DeleteFileW(m_strLogPath);
        return;
    }
    CUnicodeTextFile file;
    if (!file.Open(m_strLogPath, CFile::modeRead | CFile::shareDenyWrite | CFile::typeText))
        return;
    try {
        CString line;
        while (file.ReadString(line)) {
            const int start = line.Find(kLogCount);
            if (start < 0)
                continue;
            const int from = start + lstrlenW(kLogCount);
            const int end = line.Find(kLogCountEnd, from);
            if (end >= 0)
                m_nStoredCount = _wtoi(line.Mid(from, end - from));
            break;
        }
    } catch (CFileException* e) {
        e->Delete();
    }
    file.Abort();
}

int CXMLLog::AddItem(LPCTSTR lpszText, LPCTSTR lpszSourcePath, int nLine, int nType) {
    try {
        CXMLLogItem item;
        item.m_strEntry = lpszText ? lpszText : u"";
        item.m_strFilename = LastComponent(lpszSourcePath);
        item.m_strLine.Format(u"%d", nLine);
        item.m_chType = TypeToLetter(nType);
        SYSTEMTIME now;
        GetLocalTime(&now);
        item.m_strDate.Format(u"%d-%d-%d", now.wYear, now.wMonth, now.wDay);
        item.m_strTime.Format(u"%02d:%02d:%02d", now.wHour, now.wMinute, now.wSecond);
        m_items.push_back(std::move(item));
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (m_pListCtrl && (nType & m_nViewMask) != 0) {
        InsertListItem(m_items.back());
        TrimList();
    }
    while (m_items.size() > m_dwMaxItems)
        m_items.pop_front();
    return 1;
}

int CXMLLog::AddItemId(UINT nStringId, LPCTSTR lpszSourcePath, int nLine, int nType) {
    CString text;
    text.LoadString(nStringId);
    return AddItem(text, lpszSourcePath, nLine, nType);
}

int CXMLLog::Save(BOOL bForce) {
    if (m_items.empty() && !bForce)
        return 1;
    if (m_strLogPath.IsEmpty() || m_strTempPath.IsEmpty())
        return 0;

    // The new file is written whole under the temporary name and then takes the log's place. Whatever goes wrong
    // below, the log file stays as it was, no temporary file is left and the unsaved entries stay in memory.
    platform::fs::WholeFile temp;
    if (temp.Begin(m_strLogPath, m_strTempPath) != ERROR_SUCCESS)
        return 0;
    std::u16string text = u"\xFEFF";
    DWORD error = ERROR_SUCCESS;
    auto write = [&](LPCTSTR piece) {
        text += piece;
        if (text.size() >= kWriteChunk && error == ERROR_SUCCESS) {
            error = temp.Write(text.data(), text.size() * sizeof(char16_t));
            text.clear();
        }
    };

    int number = 0;
    try {
        write(u"<LogFile>\n");

        if (FileExists(m_strLogPath)) {
            CUnicodeTextFile old;
            if (!old.Open(m_strLogPath, CFile::modeRead | CFile::shareDenyWrite | CFile::typeText))
                return 0;
            try {
                CString line;
                bool more = true;
                // The drop count is taken in 64 bits, so an unlimited log (maximum 0xFFFFFFFF) drops nothing.
                long long drop = static_cast<long long>(m_nStoredCount) + static_cast<long long>(m_items.size()) -
                                 static_cast<long long>(m_dwMaxItems);
                while (drop > 0 && more) {
                    more = old.ReadString(line) != FALSE;
                    if (!more || line.Find(kLogItem) < 0)
                        continue;
                    while (line.Find(kLogItemEnd) < 0 && (more = old.ReadString(line) != FALSE)) {
                    }
                    --drop;
                }
                while (more && old.ReadString(line)) {
                    if (line.Find(kLogItem) < 0)
                        continue;
                    CString item = line;
                    bool complete = line.Find(kLogItemEnd) >= 0;
                    while (!complete && old.ReadString(line)) {
                        item += line;
                        complete = line.Find(kLogItemEnd) >= 0;
                    }
                    if (!complete)
                        break;
                    const int numberStart = item.Find(kNumber);
                    const int numberEnd = item.Find(kNumberEnd);
                    if (numberStart < 0 || numberEnd < 0)
                        continue;
                    CString copied;
                    copied.Format(u"%s%d%s", static_cast<LPCTSTR>(item.Left(numberStart + lstrlenW(kNumber))), ++number,
                                  static_cast<LPCTSTR>(item.Mid(numberEnd)));
                    write(copied);
                    write(u"\n");
                }
            } catch (CFileException* e) {
                e->Delete();
                old.Abort();
                return 0;
            }
            old.Abort();
        }

        for (const CXMLLogItem& item : m_items) {
            CString numberText;
            numberText.Format(u"%d", ++number);
            const WCHAR type[2] = {item.m_chType, 0};
            CString line;
            line.Format(u"\t%s%s%s%s%s%s%s%s%s\n", kLogItem, static_cast<LPCTSTR>(Element(u"Number", numberText)),
                        static_cast<LPCTSTR>(Element(u"Type", type)),
                        static_cast<LPCTSTR>(Element(u"Date", item.m_strDate)),
                        static_cast<LPCTSTR>(Element(u"Time", item.m_strTime)),
                        static_cast<LPCTSTR>(Element(u"Filename", item.m_strFilename)),
                        static_cast<LPCTSTR>(Element(u"Line", item.m_strLine)),
                        static_cast<LPCTSTR>(Element(u"Entry", item.m_strEntry)), kLogItemEnd);
            write(line);
        }

        SYSTEMTIME now;
        GetLocalTime(&now);
        CString trailer;
        trailer.Format(u"\t<LogCount>%d</LogCount>\n", number);
        trailer += u"\t" + Element(u"AppName", m_strAppName) + u"\n";
        trailer += u"\t" + Element(u"AppVersion", m_strAppVersion) + u"\n";
        CString stamp;
        stamp.Format(u"\t<Date>%d-%d-%d</Date>\n\t<Time>%d:%d:%d</Time>\n</LogFile>\n", now.wYear, now.wMonth, now.wDay,
                     now.wHour, now.wMinute, now.wSecond);
        trailer += stamp;
        write(trailer);
    } catch (CFileException* e) {
        e->Delete();
        return 0;
    }
    if (error == ERROR_SUCCESS)
        error = temp.Write(text.data(), text.size() * sizeof(char16_t));
    // One rename puts the new file in place of the old one; there is no moment without a log file.
    if (error != ERROR_SUCCESS || temp.Commit(platform::fs::WholeFile::kFlush) != ERROR_SUCCESS)
        return 0;
    m_nStoredCount = number;
    m_items.clear();
    return 1;
}

BOOL CXMLLog::Export(LPCTSTR lpszDestination) {
    Save(FALSE);
    return CopyFileW(m_strLogPath, lpszDestination, FALSE);
}

void CXMLLog::Clear() {
    FreeAll();
    m_nStoredCount = 0;
    DeleteFileW(m_strLogPath);
    Save(TRUE);
    if (m_pListCtrl)
        m_pListCtrl->DeleteAllItems();
}

void CXMLLog::SetTypeMask(int nMask, BOOL bReload) {
    m_nViewMask = nMask;
    if (bReload)
        ReloadList();
}

int CXMLLog::AddIcon(UINT nIconId) {
    IconHolder icon(reinterpret_cast<HICON>(
        LoadImageW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nIconId), IMAGE_ICON, kIconSize, kIconSize, 0)));
    if (!icon)
        return -1;
    return m_imageList.Add(icon.get());
}

int CXMLLog::AttachListCtrl(CListCtrl* pListCtrl, UINT nTypeTitleId, UINT nDateTitleId, UINT nLogTitleId,
                            UINT nErrorIconId, UINT nWarningIconId, UINT nInfoIconId, UINT nDebugIconId,
                            UINT nErrorTextId, UINT nWarningTextId, UINT nInfoTextId, UINT nDebugTextId) {
    if (!pListCtrl)
        return 0;
    // One list at a time: a list attached before is let go first.
    DetachListCtrl();
    m_pListCtrl = pListCtrl;
    m_pListCtrl->SetExtendedStyle(kListExtendedStyle);

    m_nErrorIcon = m_nWarningIcon = m_nInfoIcon = m_nDebugIcon = -1;
    if (m_imageList.Create(kIconSize, kIconSize, ILC_COLOR16 | ILC_MASK, 4, 1)) {
        m_nErrorIcon = AddIcon(nErrorIconId);
        m_nWarningIcon = AddIcon(nWarningIconId);
        m_nInfoIcon = AddIcon(nInfoIconId);
        m_nDebugIcon = AddIcon(nDebugIconId);
        m_pListCtrl->SetImageList(&m_imageList, LVSIL_SMALL);
    }
    m_nErrorTextId = nErrorTextId;
    m_nWarningTextId = nWarningTextId;
    m_nInfoTextId = nInfoTextId;
    m_nDebugTextId = nDebugTextId;

    const UINT titles[3] = {nTypeTitleId, nDateTitleId, nLogTitleId};
    for (int column = 0; column < 3; ++column) {
        CString title;
        title.LoadString(titles[column]);
        m_pListCtrl->InsertColumn(column, title, LVCFMT_LEFT, kColumnWidths[column]);
    }
    ReloadList();
    return 1;
}

void CXMLLog::DetachListCtrl() {
    // The list must not keep drawing with, or destroy, an image list that is about to go.
    if (m_pListCtrl && m_imageList.GetSafeHandle() && ::IsWindow(m_pListCtrl->GetSafeHwnd())) {
        CImageList* shown = m_pListCtrl->GetImageList(LVSIL_SMALL);
        if (shown && shown->GetSafeHandle() == m_imageList.GetSafeHandle())
            m_pListCtrl->SetImageList(nullptr, LVSIL_SMALL);
    }
    m_pListCtrl = nullptr;
    m_imageList.DeleteImageList();
}

void CXMLLog::TrimList() {
    if (!m_pListCtrl)
        return;
    for (int count = m_pListCtrl->GetItemCount(); static_cast<DWORD>(count) > m_dwMaxItems; --count) {
        if (!m_pListCtrl->DeleteItem(count - 1))
            break;
    }
}

void CXMLLog::ReloadList() {
    if (!m_pListCtrl)
        return;
    Save(FALSE);
    m_pListCtrl->DeleteAllItems();

    CUnicodeTextFile file;
    if (!file.Open(m_strLogPath, CFile::modeRead | CFile::shareDenyWrite | CFile::typeText))
        return;
    try {
        CString line;
        while (file.ReadString(line)) {
            const int start = line.Find(kLogItem);
            if (start < 0)
                continue;
            const int from = start + lstrlenW(kLogItem);
            const int end = line.Find(kLogItemEnd, from);
            if (end < 0)
                continue;
            CXMLLogItem item;
            if (ParseItem(line.Mid(from, end - from), item))
                InsertListItem(item);
        }
    } catch (CFileException* e) {
        // The rows read so far stay.
        e->Delete();
    }
    file.Abort();
    TrimList();
}

BOOL CXMLLog::InsertListItem(const CXMLLogItem& item) {
    if (!m_pListCtrl)
        return FALSE;
    const int type = LetterToType(item.m_chType);
    if ((type & m_nViewMask) == 0)
        return FALSE;

    CString typeText;
    int image = -1;
    switch (type) {
    case typeError:
        typeText.LoadString(m_nErrorTextId);
        image = m_nErrorIcon;
        break;
    case typeWarning:
        typeText.LoadString(m_nWarningTextId);
        image = m_nWarningIcon;
        break;
    case typeInformation:
        typeText.LoadString(m_nInfoTextId);
        image = m_nInfoIcon;
        break;
    case typeDebug:
        typeText.LoadString(m_nDebugTextId);
        image = m_nDebugIcon;
        break;
    default:
        typeText = u"Unknown";
        break;
    }

    const int before = m_pListCtrl->GetItemCount();
    // A row without an icon of its own says so; otherwise the list would draw its first image.
    const int row = m_pListCtrl->InsertItem(LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM, 0, typeText, 0, 0,
                                            image >= 0 ? image : I_IMAGENONE, static_cast<LPARAM>(type));
    if (row < 0)
        return FALSE;
    CString when;
    when.Format(u"%s %s", static_cast<LPCTSTR>(item.m_strDate), static_cast<LPCTSTR>(item.m_strTime));
    m_pListCtrl->SetItemText(row, 1, when);
    m_pListCtrl->SetItemText(row, 2, item.m_strEntry);
    return m_pListCtrl->GetItemCount() == before + 1;
}

BOOL CXMLLog::ParseItem(const CString& strItem, CXMLLogItem& item) {
    item.m_strNumber = ElementText(strItem, u"Number");
    const CString type = ElementText(strItem, u"Type");
    if (type.GetLength() != 1)
        return FALSE;
    item.m_chType = type[0];
    item.m_strDate = ElementText(strItem, u"Date");
    if (item.m_strDate.IsEmpty())
        return FALSE;
    item.m_strTime = ElementText(strItem, u"Time");
    if (item.m_strTime.IsEmpty())
        return FALSE;
    item.m_strFilename = ElementText(strItem, u"Filename");
    item.m_strLine = ElementText(strItem, u"Line");
    item.m_strEntry = ElementText(strItem, u"Entry");
    return !item.m_strEntry.IsEmpty();
}
