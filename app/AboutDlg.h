// CAboutDlg: the about box (dialog 2000) of the main menu: the program's name and its version, read from the
// program's version record as "Kovra Version: 1.7.1.0 Build1115".
//
// GUI thread only.
#pragma once

#include "platform/afx/Dialog.h"
#include "platform/afx/String.h"

class CAboutDlg : public CDialog {
    DECLARE_DYNAMIC(CAboutDlg)
public:
    enum { IDD = 2000 };

    explicit CAboutDlg(CWnd* pParent = nullptr);
    BOOL OnInitDialog() override;

    // The version text of a program file: "%d.%d.%d.%d Build%s" from its file version and special build; FALSE
    // when the file has no such record.
    static BOOL GetVersionText(LPCTSTR lpszProgram, CString& strVersion);
};
