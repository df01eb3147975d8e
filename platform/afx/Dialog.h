// CDialog: the framework's dialog, modal (DoModal) or modeless (Create), made from a dialog template of the
// current resource module; and AfxMessageBox.
//
// Stands in for the framework's dialog class. The same as the framework: the dialog window is attached to the
// object before its first message (so WM_CREATE reaches the message map); WM_INITDIALOG runs OnInitDialog, which
// fills the controls from the members (UpdateData(FALSE)); IDOK runs OnOK (UpdateData(TRUE), then EndDialog(IDOK)
// when the data are valid) and IDCANCEL runs OnCancel (EndDialog(IDCANCEL)); DoModal disables the owner, runs its
// own modal loop (messages pass through PreTranslateMessage of each framework window from the target up, which for
// a dialog is the dialog manager's IsDialogMessageW; WM_KICKIDLE goes to the dialog while the queue is empty, as the
// framework's idle processing) and returns the EndDialog result, or -1 when the dialog could not be created.
#pragma once

#include "platform/afx/String.h"
#include "platform/afx/Wnd.h"
#include "platform/ui/dialog.h"
#include "platform/ui/msgbox.h"

class CDataExchange;

// The message the framework's modal loop sends while idle: wParam MSGF_DIALOGBOX, lParam the idle count; a TRUE
// answer asks for more idle time.
constexpr UINT WM_KICKIDLE = 0x036A;

class CDialog : public CWnd {
    DECLARE_DYNAMIC(CDialog)
public:
    CDialog();
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    explicit CDialog(LPCTSTR lpszTemplateName, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    using CWnd::Create;
    virtual BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    virtual BOOL Create(LPCTSTR lpszTemplateName, CWnd* pParentWnd = nullptr);
    BOOL CreateIndirect(LPCDLGTEMPLATEW lpDialogTemplate, CWnd* pParentWnd = nullptr);
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    // Data exchange between the members and the controls: FALSE fills the controls, TRUE reads and validates them.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    virtual void DoDataExchange(CDataExchange* pDX);

    BOOL PreTranslateMessage(MSG* pMsg) override;

    // Focus and the default button.
    void NextDlgCtrl() const;
    void PrevDlgCtrl() const;
    void GotoDlgCtrl(CWnd* pWndCtrl);
    void SetDefID(UINT nID);
    DWORD GetDefID() const;
    void MapDialogRect(LPRECT lpRect) const;

    UINT m_nIDHelp = 0;
    LPCTSTR m_lpszTemplateName = nullptr;
    UINT m_nIDTemplate = 0;
    CWnd* m_pParentWnd = nullptr;
    int m_nModalResult = -1;

    DECLARE_MESSAGE_MAP()

private:
    BOOL CreateFromResource(CWnd* pParentWnd);
    BOOL CreateWithHook(HWND hWndParent, LPCDLGTEMPLATEW lpTemplate);
    HWND OwnerForModal() const;
    friend INT_PTR AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
};

// The dialog procedure of framework dialogs.
INT_PTR AfxDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// A message box owned by the active window of the thread (or the main window), with the application's name as its
// caption. Without an icon in nType, OK and OK/Cancel boxes get the exclamation icon and Yes/No ones the question
// icon.
int AfxMessageBox(LPCTSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
int AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK, UINT nIDHelp = static_cast<UINT>(-1));
