// CWizardPage: the base of every wizard page: a modeless child dialog of its own template, hosted by a
// CWizardDialog, painted white with black text, and asked by the host through eight hooks.
//
// Hooks and their defaults:
//     OnCreatePage    after the page's window is first created; FALSE stops the activation   TRUE
//     OnDestroyPage   before the page's window is destroyed with the host                    nothing
//     OnKillActive    before the page is left, the wizard finishes or the host goes; FALSE keeps it   TRUE
//     OnSetActive     after the page is shown                                                 nothing
//     OnQueryCancel   on Cancel; FALSE keeps the wizard open                                  TRUE
//     OnWizardBack    -1 stay, 0 the previous page in list order, else the target page's id   0
//     OnWizardNext    -1 stay, 0 the next page in list order, else the target page's id       0
//     OnWizardFinish  on Finish, asked of every created page; FALSE keeps the wizard open     TRUE
//
// Enter and Escape pressed inside a page do nothing (they press no default button and cancel nothing). A page's
// template is a child dialog (WS_CHILD, WS_DISABLED, DS_SETFONT, not visible) of the placeholder's size.
#pragma once

#include "platform/afx/Dialog.h"
#include "platform/afx/GdiObject.h"

class CDC;
class CWizardDialog;

class CWizardPage : public CDialog {
    DECLARE_DYNAMIC(CWizardPage)
public:
    explicit CWizardPage(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    explicit CWizardPage(LPCTSTR lpszTemplateName, CWnd* pParentWnd = nullptr);
    ~CWizardPage() override;

    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnInitDialog() override;
    // A page never ends itself.
    void OnCancel() override;

    virtual BOOL OnCreatePage();
    virtual void OnDestroyPage();
    virtual BOOL OnKillActive();
    virtual void OnSetActive();
    virtual BOOL OnQueryCancel();
    virtual LRESULT OnWizardBack();
    virtual LRESULT OnWizardNext();
    virtual BOOL OnWizardFinish();

    CWizardDialog* GetWizard() const { return m_pWizard; }
    BOOL IsCreated() const { return m_bCreated; }
    BOOL IsActive() const { return m_bActive; }
    UINT GetDialogId() const { return m_nDialogID; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    // WM_CTLCOLOR*: white behind black text for edits, list boxes, buttons, scroll bars and statics; the page's
    // white brush in every case.
    LRESULT OnCtlColor(WPARAM wParam, LPARAM lParam);

    // A bold heading font for derived pages, and the page's background.
    CFont m_titleFont;
    CBrush m_backgroundBrush;

    DECLARE_MESSAGE_MAP()

private:
    friend class CWizardDialog;

    CWizardDialog* m_pWizard = nullptr;
    BOOL m_bCreated = FALSE;
    BOOL m_bActive = FALSE;
    UINT m_nDialogID = 0;
};
