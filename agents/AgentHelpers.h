// Small helpers the agents of particular programs share: an item's data and path, trailing backslashes, the
// "\\?\" prefix, handing a path to the copy job's buffer, icons from the program's "Res" folder, and the entries of
// the system log. Private to the agents folder.
#pragma once

#include "engine/BackAgent.h"
#include "engine/ShellItemData.h"
#include "engine/ShellTreeCtrl.h"

#include "platform/afx/String.h"

namespace agents {

inline CShellItemData* DataOf(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    if (!pTree || !hItem || hItem == TVI_ROOT)
        return nullptr;
    return reinterpret_cast<CShellItemData*>(pTree->GetItemData(hItem));
}

// The file-system path of an item's list; empty for an item without one.
CString PathOf(CShellTreeCtrl* pTree, HTREEITEM hItem);
CString WithoutTrailingBackslash(CString strPath);
CString WithTrailingBackslash(CString strPath);
// The text after the last backslash (the whole text without one).
CString LastComponent(const CString& strPath);
// The path without a leading "\\?\".
CString WithoutLongPrefix(const CString& strPath);
// The path with its leading backslashes and question marks taken off (as a "\\?\" prefix is removed).
CString WithoutLeadingMarks(const CString& strPath);
// Whether the text ends in the extension (with its dot), compared without regard to case.
bool HasExtension(const CString& strPath, LPCTSTR lpszExtension);

// Copies the path into the caller's buffer of cbBuffer bytes. FALSE, with "%s, %d: %s is too long to over
// buffer." in the system log under the caller's source name and line, when it does not fit with its terminator.
BOOL CopyToBuffer(const CString& strPath, LPTSTR lpszBuffer, int cbBuffer, LPCTSTR lpszSource, int nLine);

// An entry of the system log ("%s, %d: " texts get the source name and line); type 1, 2, 4 or 8.
void Log(LPCTSTR lpszText, LPCTSTR lpszSource, int nLine, int nType);
// The same with the source name and line put into a format that starts with "%s, %d: " and takes one more text.
void LogFormat(LPCTSTR lpszFormat, LPCTSTR lpszSource, int nLine, int nType, LPCTSTR lpszText = _T(""));
// A per-file result of a mail agent's own step (a registry part saved or loaded): an entry of the copy-progress
// dialog's log while one runs the job, else of the system log.
void LogResult(const CString& strText, LPCTSTR lpszSource, int nLine, int nType);
// A text of the program's string table (the language library's first), or the given fall-back.
CString LoadText(UINT nId, LPCTSTR lpszDefault);

// The system image-list index (small icon, or small open icon) of the icon file "Res\<name>" beside the program,
// or of the program file itself when that file is missing.
int ResIconIndex(LPCTSTR lpszFileName, bool bOpen = false);
// The system image-list index of a file's small icon (or small open icon); -1 when it has none.
int FileIconIndex(LPCTSTR lpszPath, bool bOpen = false);

} // namespace agents
