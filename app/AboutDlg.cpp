#include "app/AboutDlg.h"

#include "platform/base/module.h"
#include "platform/res/resources.h"

#include <vector>

IMPLEMENT_DYNAMIC(CAboutDlg, CDialog)

namespace {
constexpr int IDC_VERSION = 2001;
constexpr UINT IDS_VERSION = 2001;
} // namespace

CAboutDlg::CAboutDlg(CWnd* pParent) : CDialog(IDD, pParent) {}

BOOL CAboutDlg::GetVersionText(LPCTSTR lpszProgram, CString& strVersion) {
    DWORD dwHandle = 0;
    const DWORD dwSize = ::GetFileVersionInfoSizeW(lpszProgram, &dwHandle);
    if (!dwSize)
        return FALSE;
    std::vector<BYTE> data(dwSize);
    if (!::GetFileVersionInfoW(lpszProgram, dwHandle, dwSize, data.data()))
        return FALSE;
    VS_FIXEDFILEINFO* pFixed = nullptr;
    UINT nLength = 0;
    if (!::VerQueryValueW(data.data(), u"\\", reinterpret_cast<LPVOID*>(&pFixed), &nLength) || !pFixed)
        return FALSE;
    struct Translation {
        WORD wLanguage;
        WORD wCodePage;
    }* pTranslation = nullptr;
    if (!::VerQueryValueW(data.data(), u"\\VarFileInfo\\Translation", reinterpret_cast<LPVOID*>(&pTranslation),
                          &nLength) ||
        !pTranslation || nLength < sizeof(Translation))
        return FALSE;
    CString strQuery;
    strQuery.Format(u"\\StringFileInfo\\%04x%04x\\%s", pTranslation->wLanguage, pTranslation->wCodePage,
                    u"SpecialBuild");
    LPWSTR lpszBuild = nullptr;
    if (!::VerQueryValueW(data.data(), strQuery, reinterpret_cast<LPVOID*>(&lpszBuild), &nLength) || !lpszBuild)
        return FALSE;
    strVersion.Format(u"%d.%d.%d.%d Build%s", HIWORD(pFixed->dwFileVersionMS), LOWORD(pFixed->dwFileVersionMS),
                      HIWORD(pFixed->dwFileVersionLS), LOWORD(pFixed->dwFileVersionLS), lpszBuild);
    return TRUE;
}

BOOL CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CString strText;
    strText.LoadString(IDS_VERSION);
    WCHAR szProgram[MAX_PATH] = {};
    CString strVersion;
    if (::GetModuleFileNameW(nullptr, szProgram, MAX_PATH) && GetVersionText(szProgram, strVersion))
        strText += strVersion;
    SetDlgItemText(IDC_VERSION, strText);
    return TRUE;
}
