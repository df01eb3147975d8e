// CConnectDlg: the "Connect" dialog (1600), which asks for the user name and password of a NAS server and
// connects the server, or one of its shares to a drive letter, with them. It closes with OK only once the
// connection is made; a failure is told and the dialog stays for another try.
#pragma once

#include "platform/afx/Dialog.h"

class CConnectDlg : public CDialog {
    DECLARE_DYNAMIC(CConnectDlg)
public:
    enum { IDD = 1600 };

    // No share: the server itself is connected (to list its shares). No local name: no drive letter.
    CConnectDlg(LPCTSTR lpszServer, LPCTSTR lpszShare, LPCTSTR lpszLocalName, LPCTSTR lpszUser, LPCTSTR lpszPassword,
                CWnd* pParentWnd = nullptr);

    const CString& GetUser() const { return m_strUser; }
    const CString& GetPassword() const { return m_strPassword; }
    DWORD GetResult() const { return m_dwResult; }

    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    TCHAR m_szServer[260] = {};
    TCHAR m_szShare[260] = {};
    CString m_strUser;
    CString m_strPassword;
    CString m_strLocalName;
    DWORD m_dwResult = ERROR_SUCCESS;
};
