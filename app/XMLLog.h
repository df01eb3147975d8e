// CXMLLog: the program's event log. Entries are kept in memory until an idle-time save writes them to a UTF-16 text
// file in an XML-like element form, one entry per line:
//
//     <LogFile>
//     \t<LogItem><Number>1</Number><Type>I</Type><Date>2008-3-9</Date><Time>08:05:01</Time>
//       <Filename>BrannicApp.cpp</Filename><Line>120</Line><Entry>text</Entry></LogItem>      (one line)
//     \t<LogCount>1</LogCount> ... <AppName>, <AppVersion>, <Date>, <Time> of the save
//     </LogFile>
//
// The file is UTF-16LE with a byte-order mark and bare line feeds. A save writes the whole new file under the
// temporary name (the log's name with "~" in front) and then puts it in place of the log in one rename, so a log
// file is always either the old one or the new one, never half of either. Entry texts are escaped ("&amp;", "&lt;",
// "&gt;", "&#10;", "&#13;") so that any text, line breaks included, reads back as it was written.
//
// A log can be shown in an attached report list view, newest entry first, filtered by a view mask of entry types.
//
// Every log object is used on its owner's GUI thread only; the class has no locks.
#pragma once

#include "platform/afx/ImageList.h"
#include "platform/afx/String.h"
#include "platform/base/types.h"

#include <list>

// One entry of the log.
class CXMLLogItem {
public:
    CString m_strNumber;
    CString m_strDate;
    CString m_strTime;
    CString m_strEntry;
    CString m_strLine;
    CString m_strFilename;
    WCHAR m_chType = 0;
};

class CListCtrl;

class CXMLLog {
public:
    // Entry types, as bit masks.
    enum : int { typeInformation = 1, typeWarning = 2, typeError = 4, typeDebug = 8 };

    CXMLLog();
    virtual ~CXMLLog();
    CXMLLog(const CXMLLog&) = delete;
    CXMLLog& operator=(const CXMLLog&) = delete;

    // Binds the log to its file and its temporary companion. With bKeep FALSE the log file is deleted; with TRUE
    // the number of entries it holds is read from its LogCount element. A maximum of 0xFFFFFFFF means no limit.
    void Init(LPCTSTR lpszLogPath, LPCTSTR lpszTempPath, DWORD dwMaxItems, BOOL bKeep);

    // Appends an entry; 1, or 0 when it cannot be allocated (the log is then unchanged). Only the last component of
    // the source path is kept, whichever separator it uses.
    int AddItem(LPCTSTR lpszText, LPCTSTR lpszSourcePath, int nLine, int nType);
    // The same with the text of a string-table entry of the current resources.
    int AddItemId(UINT nStringId, LPCTSTR lpszSourcePath, int nLine, int nType);

    // Writes the unsaved entries behind the ones in the file, dropping the oldest beyond the maximum, and
    // renumbers them. Without bForce and without unsaved entries no file is touched. 1 on success; 0 when a file
    // cannot be opened, read or written, in which case the log file is as it was and no entry is lost.
    int Save(BOOL bForce);

    // Saves, then copies the log file to the destination (overwriting it); the copy's result.
    BOOL Export(LPCTSTR lpszDestination);

    // Forgets every entry, in memory and in the file, and leaves a file with no entries and LogCount 0.
    void Clear();

    // Shows the log in a report list view: grid lines and full-row select, a small image list with the icons of
    // the types (an icon that cannot be loaded gets no image), three left-aligned columns (type, date and time, text)
    // with the titles of the string ids, and the entries of the file and the unsaved ones. The type texts are
    // string ids too. The list stays the caller's; detach it before it is destroyed. 1, or 0 without a list.
    int AttachListCtrl(CListCtrl* pListCtrl, UINT nTypeTitleId, UINT nDateTitleId, UINT nLogTitleId, UINT nErrorIconId,
                       UINT nWarningIconId, UINT nInfoIconId, UINT nDebugIconId, UINT nErrorTextId, UINT nWarningTextId,
                       UINT nInfoTextId, UINT nDebugTextId);
    // Forgets the list view (taking the image list back from it) and deletes the image list.
    void DetachListCtrl();
    // Saves, then fills the attached list view from the log file: the entries the view mask shows, newest first, at
    // most the maximum. Items that do not parse are left out.
    void ReloadList();
    // Inserts one entry at the top of the attached list view when the view mask shows its type: the type text with
    // its icon ("Unknown" without an icon for a letter other than I, W, E, D), "date time" and the text; the row's
    // data is the type mask. TRUE when the list grew by one row.
    BOOL InsertListItem(const CXMLLogItem& item);
    CListCtrl* GetListCtrl() const { return m_pListCtrl; }

    int GetTypeMask() const { return m_nViewMask; }
    // Stores the view mask; with bReload the attached list view is filled again.
    void SetTypeMask(int nMask, BOOL bReload);
    CString GetLogPath() const { return m_strLogPath; }

    // The version text of a program file: "%d.%d.%d.%d" of its file version, followed by " Build " and its special
    // build text when that is not empty. The text is unchanged when the file has no such record.
    static void GetApVersion(LPCTSTR lpszFilePath, CString& strVersion);

    // Whether the file exists: only "file not found" and "path not found" count as missing.
    static BOOL FileExists(LPCTSTR lpszPath);

    // Reads one item, the text between "<LogItem>" and "</LogItem>". FALSE when it lacks a one-letter type, a date,
    // a time or an entry text.
    static BOOL ParseItem(const CString& strItem, CXMLLogItem& item);

    // Type mask to letter (I, W, E, D; U for any other mask) and back (22 for a letter other than those four).
    static WCHAR TypeToLetter(int nType);
    static int LetterToType(WCHAR chType);

    // The escaping of element texts in the file, and its reverse.
    static CString EscapeText(LPCTSTR lpszText);
    static CString UnescapeText(const CString& strText);

    int GetStoredCount() const { return m_nStoredCount; }
    DWORD GetNewCount() const { return static_cast<DWORD>(m_items.size()); }

protected:
    CString m_strAppName;
    CString m_strAppVersion;
    CString m_strLogPath;
    CString m_strTempPath;
    int m_nStoredCount = 0;
    DWORD m_dwMaxItems = 100;
    // Unsaved entries, oldest first. They stay here until a save has put the file that holds them in place.
    std::list<CXMLLogItem> m_items;
    // The attached list view (the caller's) and the image list of the type column (the log's).
    CListCtrl* m_pListCtrl = nullptr;
    CImageList m_imageList;
    int m_nErrorIcon = -1;
    int m_nWarningIcon = -1;
    int m_nInfoIcon = -1;
    int m_nDebugIcon = -1;
    UINT m_nErrorTextId = 0;
    UINT m_nWarningTextId = 0;
    UINT m_nInfoTextId = 0;
    UINT m_nDebugTextId = 0;
    int m_nViewMask = 7;

private:
    void FreeAll();
    // Deletes the last rows of the list view while it holds more than the maximum.
    void TrimList();
    int AddIcon(UINT nIconId);
};
