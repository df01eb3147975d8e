// CFileDialog: the framework's file open and save dialog over GetOpenFileNameW and GetSaveFileNameW.
//
// Stands in for the framework's file dialog class. The same as the framework: the constructor fills m_ofn from its
// arguments (the filter is written with '|' between the parts and ends with "||", as in resource strings), the caller
// may change m_ofn before DoModal, DoModal returns IDOK or IDCANCEL (CommDlgExtendedError tells a failure from a
// cancel), and the name accessors read the chosen path.
//
// Where it differs: the dialog is the window layer's headless file dialog, so the choice comes from the prompt hook
// (msgbox.h); there is no dialog window to customise and no multiple selection.
#pragma once

#include "platform/afx/Dialog.h"
#include "platform/afx/String.h"
#include "platform/ui/commdlg.h"

#include <array>

class CFileDialog : public CDialog {
    DECLARE_DYNAMIC(CFileDialog)
public:
    explicit CFileDialog(BOOL bOpenFileDialog, LPCTSTR lpszDefExt = nullptr, LPCTSTR lpszFileName = nullptr,
                         DWORD dwFlags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCTSTR lpszFilter = nullptr,
                         CWnd* pParentWnd = nullptr, DWORD dwSize = 0, BOOL bVistaStyle = TRUE);

    INT_PTR DoModal() override;

    // The whole path chosen ("C:\Logs\app.log").
    CString GetPathName() const;
    // The name with its extension ("app.log").
    CString GetFileName() const;
    // The extension without its dot ("log"); empty when the name has none.
    CString GetFileExt() const;
    // The name without its extension ("app").
    CString GetFileTitle() const;
    // The folder of the chosen file, without a trailing backslash.
    CString GetFolderPath() const;
    BOOL GetReadOnlyPref() const;

    OPENFILENAMEW m_ofn{};

protected:
    BOOL m_bOpenFileDialog = TRUE;
    CString m_strFilter;
    CString m_strDefExt;
    std::array<TCHAR, MAX_PATH> m_szFileName{};
    std::array<TCHAR, MAX_PATH> m_szFileTitle{};
};
