// CBackManager: the hidden window "BackManager" that holds the registered backup agents and runs copy jobs over
// their selections.
//
// One object per process, embedded in the application object and created at start-up, before the agents are
// registered. Agents are kept in registration order and are owned by whoever registered them (the start-up
// routine), never by the manager. GUI thread only.
//
// What stands here: the window, the agent list and the questions the rest of the program asks it. Copy jobs, the
// copy-progress dialog and the selection trees join as they are built; until then there is never a job or a
// progress dialog, and no agent reports backup data.
#pragma once

#include "platform/afx/PtrList.h"
#include "platform/afx/Wnd.h"

class CBackAgent;

class CBackManager : public CWnd {
    DECLARE_DYNAMIC(CBackManager)
public:
    CBackManager();
    ~CBackManager() override;

    // Creates the hidden window: extended style WS_EX_TOPMOST, class "STATIC", text "BackManager", style
    // WS_OVERLAPPEDWINDOW (never shown), at 0,0 and 100 x 100, no parent. Whether the window exists.
    BOOL Create();

    // Asks the agent's OnRegister and appends it when that accepts: 1 when appended, else 0.
    int AddAgent(CBackAgent* pAgent);
    // Forgets every registered agent (they stay their owner's). Called at shut-down before the agents go.
    void RemoveAllAgents();
    int GetAgentCount() const { return static_cast<int>(m_agents.GetCount()); }
    // The registered agent at the list index, or null.
    CBackAgent* GetAgent(int nIndex) const;

    // 1 when any registered agent finds a backup on the drive (in list order), else 0.
    int HasBackupData(TCHAR chDrive);

    // Whether a copy-progress dialog is attached (only while one runs).
    BOOL HasProgressDlg() const { return m_pProgressDlg != nullptr; }
    CWnd* GetProgressDlg() const { return m_pProgressDlg; }

    // Cancels every running job and returns once none runs; the program calls it at shut-down before it
    // destroys what the jobs use.
    void CancelAllJobs();
    int GetJobCount() const { return 0; }

protected:
    CWnd* m_pProgressDlg = nullptr;
    CPtrList m_agents;
};
