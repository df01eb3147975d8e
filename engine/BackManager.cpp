#include "engine/BackManager.h"

#include "engine/BackAgent.h"

IMPLEMENT_DYNAMIC(CBackManager, CWnd)

CBackManager::CBackManager() : m_agents(10) {}

CBackManager::~CBackManager() {
    if (m_hWnd)
        DestroyWindow();
    m_agents.RemoveAll();
}

BOOL CBackManager::Create() {
    if (m_hWnd)
        return TRUE;
    CreateEx(WS_EX_TOPMOST, u"STATIC", u"BackManager", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr);
    return m_hWnd != nullptr;
}

int CBackManager::AddAgent(CBackAgent* pAgent) {
    if (!pAgent || !pAgent->OnRegister())
        return 0;
    m_agents.AddTail(pAgent);
    return 1;
}

void CBackManager::RemoveAllAgents() {
    m_agents.RemoveAll();
}

CBackAgent* CBackManager::GetAgent(int nIndex) const {
    POSITION pos = m_agents.FindIndex(nIndex);
    return pos ? static_cast<CBackAgent*>(m_agents.GetAt(pos)) : nullptr;
}

int CBackManager::HasBackupData(TCHAR) {
    // No agent can tell yet whether a drive holds its backup.
    return 0;
}

void CBackManager::CancelAllJobs() {
    // No job runs before copy jobs are built.
}
