// CExpertSystemSetting: the "System" page of the Expert Mode dialog (1400).
//
// It shows the system event log ("Activity History") with Save As, Clear Logs and the choice of the shown entries;
// it opens the one-touch, filter and Manage Secure Disk dialogs and the Quick Configure Wizard; it carries out a
// press of the enclosure's one-touch button as "OneTouch" under "Expert\SystemSetting" says (3001 back up now,
// 3003 do nothing); it is the drive manager's owner window, so it refuses the removal of the enclosure's disk and
// volumes; and it switches the enclosure's secure-disk LED as secure disks open and close.
//
// A press while an earlier one is still being handled (its question, dialog or wizard open) is dropped. The reply
// a press asks for is posted once the action has ended, also when the backup could not start, so that a start
// waiting for it goes on. GUI thread only.
#pragma once

#include "app/TipListCtrl.h"
#include "workflows/ExpertPage.h"

#include "platform/afx/Button.h"

class CExpertSystemSetting : public CExpertPage {
    DECLARE_DYNAMIC(CExpertSystemSetting)
public:
    enum { IDD = 1400 };
    // The one-touch actions.
    enum { kOneTouchBackup = 3001, kOneTouchNothing = 3003 };

    CExpertSystemSetting();
    ~CExpertSystemSetting() override;

    BOOL OnInitDialog() override;
    BOOL DestroyWindow() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL IsBusy() const override { return m_bBusy; }
    // The end of the program's start-up: from now on the one-touch presses come here.
    void OnLastStartupStep(BOOL bNormalStart) override;

    // Runs the Manage Secure Disk dialog (2900) with the page busy meanwhile.
    void OnManageSecureDisk();
    // Gives the enclosure client window the page's one-touch dispatcher.
    void RegisterOneTouchHandler();
    // The dispatcher: what a press of the one-touch button does. The reply (0, 0) goes to hReply when both it and
    // nReplyMsg are given.
    void OnOneTouch(HWND hReply, UINT nReplyMsg);
    DWORD GetOneTouchAction() const { return m_dwOneTouch; }

    CTipListCtrl m_list;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnSaveAs();
    void OnClearLogs();
    void OnOptions();
    void OnOneTouchSetting();
    void OnFilterSetting();
    void OnInitializeDisk();
    LRESULT OnDriveNotify(WPARAM wParam, LPARAM lParam);
    LRESULT OnOneTouchMessage(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    static void OneTouchHandler(void* pUserData, WPARAM wParam, LPARAM lParam);
    static BOOL ShowLogTipsCallback(LPVOID lpParam);
    void ReadOneTouchAction();
    void BackupNow(HWND hReply, UINT nReplyMsg);
    static void Reply(HWND hReply, UINT nReplyMsg);

    BOOL m_bBusy = FALSE;
    BOOL m_bOneTouchGuard = FALSE;
    DWORD m_dwOneTouch = kOneTouchBackup;
    BOOL m_bRegistered = FALSE;
};
