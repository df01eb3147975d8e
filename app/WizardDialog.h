// CWizardDialog: the host of every wizard: a dialog of its own template with Back (12323), Next (12324),
// Finish (12325) and Cancel, and an empty frame (the placeholder) over which one page at a time is shown.
//
// Pages (CWizardPage) are modeless child dialogs, created the first time they are shown and laid over the
// placeholder's top-left corner; they stay created (with their controls' state) until the host is destroyed. The
// host moves between pages in list order or jumps to a page named by its dialog id, as each page's hooks decide,
// and keeps the buttons in step:
//
//     event                         Back       Next              Finish
//     start, more than one page     disabled   enabled, shown    disabled, hidden
//     start, one page               disabled   disabled, hidden  enabled, shown
//     Next reaches the last page    enabled    disabled, hidden  enabled, shown
//     Next reaches another page     enabled    unchanged         unchanged
//     Back reaches the first page   disabled   enabled, shown    disabled, hidden
//     Back reaches another page     unchanged  enabled, shown    unchanged
//
// A hook that refuses, a page that cannot be created or an id that no page carries leaves the wizard where it is.
// The host ends only through Finish (12325) or Cancel (IDCANCEL). It does not own its pages: whoever builds the
// wizard constructs them before it runs and destroys them after. A host with no page refuses to start.
//
// GUI thread only.
#pragma once

#include "platform/afx/Dialog.h"
#include "platform/afx/PtrList.h"

class CWizardPage;

constexpr UINT ID_WIZBACK = 12323;
constexpr UINT ID_WIZNEXT = 12324;
constexpr UINT ID_WIZFINISH = 12325;

class CWizardDialog : public CDialog {
    DECLARE_DYNAMIC(CWizardDialog)
public:
    explicit CWizardDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    explicit CWizardDialog(LPCTSTR lpszTemplateName, CWnd* pParentWnd = nullptr);
    ~CWizardDialog() override;

    // Appends the page and stores the id in it.
    void AddPage(CWizardPage* pPage, UINT nID);
    // The control at whose top-left corner pages are placed (every wizard passes 140).
    void SetPlaceholder(int nID) { m_nPlaceholderID = nID; }
    int GetPlaceholder() const { return m_nPlaceholderID; }

    CWizardPage* GetFirstPage() const;
    CWizardPage* GetLastPage() const;
    CWizardPage* GetActivePage() const;
    CWizardPage* GetNextPage() const;
    CWizardPage* GetPage(int nIndex) const;
    CWizardPage* GetPageById(UINT nID) const;
    int GetActiveIndex() const;
    int GetPageIndex(const CWizardPage* pPage) const;
    int GetPageCount() const { return static_cast<int>(m_pages.GetCount()); }

    BOOL ActivatePage(CWizardPage* pPage);
    BOOL DeactivateActivePage();
    BOOL ActivateFirstPage();
    void ActivateNextPage();
    BOOL SetActivePage(CWizardPage* pPage);
    BOOL SetActivePageByIndex(int nIndex);
    BOOL SetActivePageById(UINT nID);

    void EnableBack(BOOL bEnable);
    void EnableNext(BOOL bEnable);
    void EnableFinish(BOOL bEnable);
    void ShowNext(BOOL bShow);
    void ShowFinish(BOOL bShow);
    void SetTitle(LPCTSTR lpszTitle);
    void SetTitle(UINT nIDText);
    void SetFinishText(LPCTSTR lpszText);
    void SetFinishText(UINT nIDText);

    BOOL OnInitDialog() override;
    // Enter on the host presses its default button, never ends it as OK: a wizard ends only through Finish or
    // Cancel.
    void OnOK() override;
    void OnCancel() override;

    // Button handlers. Derived hosts build their own Back, Next and Finish from these; OnNext with bSkipHook moves
    // on without asking the page.
    void OnBack();
    void OnNext(BOOL bSkipHook = FALSE);
    void OnFinish();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnDestroy();
    void OnNextClicked() { OnNext(FALSE); }

    DECLARE_MESSAGE_MAP()

private:
    void EnableButton(int nID, BOOL bEnable);
    void ShowButton(int nID, BOOL bShow);

    CPtrList m_pages;
    int m_nPlaceholderID = 0;
};
