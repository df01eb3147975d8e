// CExpertPage: a page of the Expert Mode dialog (Auto-Backup, Schedule Backup, Instant Backup, Instant Restore,
// System).
//
// A page is a child dialog that the Expert Mode dialog creates from the page's own template, moves below its tabs
// (to (1, 98) in pixels, without resizing: a template fits in 418 x 198 dialog units) and shows while its tab is
// selected. The dialog reaches every page through the operations below; a page overrides those that concern it
// and leaves the others as they are (nothing to do, FALSE). A page joins the dialog with one line in the dialog's
// page list (ExpertModeDlg.cpp).
//
// GUI thread only.
#pragma once

#include "platform/afx/Dialog.h"
#include "platform/shell/idlist.h"

class CShellTreeCtrl;

class CExpertPage : public CDialog {
    DECLARE_DYNAMIC(CExpertPage)
public:
    CExpertPage(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CExpertPage() override;

    // Creates the page from its template as a child of the Expert Mode dialog.
    virtual BOOL CreatePage(CWnd* pParentWnd);

    // The page's source tree, or null: it takes the user's file-name filter, and the shell's changes reach it
    // before OnShellNotify.
    virtual CShellTreeCtrl* GetSourceTree() { return nullptr; }
    // A change the shell reported (after the page's tree has seen it, where the dialog hands it to the tree).
    virtual LRESULT OnShellNotify(LONG lEvent, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2);
    // TRUE while one of the page's own modal dialogs is open (the main menu greys its tray menu meanwhile).
    virtual BOOL IsBusy() const { return FALSE; }
    // TRUE while the page runs a service that an exit would end (Auto-Backup, the schedule): the user is asked.
    virtual BOOL IsRunning() const { return FALSE; }
    // TRUE while the page's counting job runs.
    virtual BOOL IsCounting() const { return FALSE; }
    // Cancels a running count; with bRestart a new one starts at its end. The page sends WM_USER+3112 with its
    // dialog id to the Expert Mode dialog when a count ends without restart.
    virtual void StopCount(BOOL bRestart);
    // The last step of the program's start-up: bNormalStart 1, or 0 right after the one-touch action of an "otb"
    // start.
    virtual void OnLastStartupStep(BOOL bNormalStart);
    // The restore sources changed (the Instant Restore page reloads them; lParam says how).
    virtual void OnRefreshSources(LPARAM lParam);
    // Stops whatever the page runs and returns once it has stopped (the program ends).
    virtual void StopRunningJobs() {}
    // The application's idle time.
    virtual void OnIdle() {}

protected:
    // A page never ends: Enter and Escape do nothing.
    void OnOK() override {}
    void OnCancel() override {}
};
