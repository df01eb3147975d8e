#include "agents/AgentHelpers.h"

#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "engine/BackManager.h"
#include "engine/CopyProDlg.h"

#include "platform/afx/WinApp.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/shell/fileinfo.h"

namespace agents {

CString PathOf(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    return pData && pData->m_list.IsValid() ? pData->m_list.GetPath() : CString();
}

CString WithoutTrailingBackslash(CString strPath) {
    while (strPath.GetLength() > 0 && strPath[strPath.GetLength() - 1] == _T('\\'))
        strPath = strPath.Left(strPath.GetLength() - 1);
    return strPath;
}

CString WithTrailingBackslash(CString strPath) {
    if (strPath.IsEmpty() || strPath[strPath.GetLength() - 1] != _T('\\'))
        strPath += _T("\\");
    return strPath;
}

CString LastComponent(const CString& strPath) {
    const int slash = strPath.ReverseFind(_T('\\'));
    return slash < 0 ? strPath : strPath.Mid(slash + 1);
}

CString WithoutLongPrefix(const CString& strPath) {
    return strPath.Left(4) == _T("\\\\?\\") ? strPath.Mid(4) : strPath;
}

CString WithoutLeadingMarks(const CString& strPath) {
    int start = 0;
    while (start < strPath.GetLength() && (strPath[start] == _T('\\') || strPath[start] == _T('?')))
        ++start;
    return strPath.Mid(start);
}

bool HasExtension(const CString& strPath, LPCTSTR lpszExtension) {
    const int dot = strPath.ReverseFind(_T('.'));
    return dot >= 0 && strPath.Mid(dot).CompareNoCase(lpszExtension) == 0;
}

BOOL CopyToBuffer(const CString& strPath, LPTSTR lpszBuffer, int cbBuffer, LPCTSTR lpszSource, int nLine) {
    if (!lpszBuffer || strPath.GetLength() + 1 > cbBuffer / 2) {
        LogFormat(_T("%s, %d: %s is too long to over buffer."), lpszSource, nLine, 8, strPath);
        return FALSE;
    }
    lstrcpynW(lpszBuffer, strPath, cbBuffer / 2);
    return TRUE;
}

namespace {

CBrannicApp* App() {
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)) ? static_cast<CBrannicApp*>(pApp) : nullptr;
}

} // namespace

void Log(LPCTSTR lpszText, LPCTSTR lpszSource, int nLine, int nType) {
    if (CBrannicApp* pApp = App())
        pApp->Log(lpszText, lpszSource, nLine, nType);
}

void LogFormat(LPCTSTR lpszFormat, LPCTSTR lpszSource, int nLine, int nType, LPCTSTR lpszText) {
    CString text;
    text.Format(lpszFormat, lpszSource, nLine, lpszText ? lpszText : _T(""));
    Log(text, lpszSource, nLine, nType);
}

void LogResult(const CString& strText, LPCTSTR lpszSource, int nLine, int nType) {
    CBackManager* pManager = CBackManager::Get();
    CWnd* pDialog = pManager ? pManager->GetProgressDlg() : nullptr;
    if (pDialog && pDialog->IsKindOf(RUNTIME_CLASS(CCopyProDlg))) {
        static_cast<CCopyProDlg*>(pDialog)->AddLog(strText, nType);
        return;
    }
    Log(strText, lpszSource, nLine, nType);
}

CString LoadText(UINT nId, LPCTSTR lpszDefault) {
    CString text;
    if (!text.LoadString(nId) || text.IsEmpty())
        text = lpszDefault;
    return text;
}

int FileIconIndex(LPCTSTR lpszPath, bool bOpen) {
    SHFILEINFOW info{};
    const UINT flags = SHGFI_SYSICONINDEX | SHGFI_SMALLICON | (bOpen ? SHGFI_OPENICON : 0);
    if (!lpszPath || !SHGetFileInfoW(lpszPath, 0, &info, sizeof info, flags))
        return -1;
    return info.iIcon;
}

int ResIconIndex(LPCTSTR lpszFileName, bool bOpen) {
    CString folder;
    GetExeFolder(folder);
    CString icon;
    icon.Format(_T("%s\\Res\\%s"), WithoutTrailingBackslash(folder).GetString(), lpszFileName);
    const DWORD attributes = GetFileAttributesW(icon);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return FileIconIndex(icon, bOpen);
    WCHAR program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    return FileIconIndex(program, bOpen);
}

} // namespace agents
