// CBackAgent: the base of every backup source ("agent"): the desktop, the favorites, the fonts, the documents
// folder, the mail programs, the user profile and plain files and folders.
//
// The backup manager keeps one registered instance of each agent, in registration order, and asks the agents
// about their part of a selection tree and of a copy job. What stands here is the registration side that the
// start-up sequence relies on: the registration hook and the agent's data-folder name, which is also its identity
// in lookups by name. The tree and job operations join this class as the selection trees are built.
#pragma once

#include "platform/afx/Object.h"
#include "platform/afx/String.h"

class CBackAgent : public CObject {
    DECLARE_DYNAMIC(CBackAgent)
public:
    CBackAgent() = default;
    ~CBackAgent() override = default;
    CBackAgent(const CBackAgent&) = delete;
    CBackAgent& operator=(const CBackAgent&) = delete;

    // Called by CBackManager::AddAgent; the agent is kept only when the result is non-zero.
    virtual int OnRegister() = 0;
    // The agent's folder inside a backup set ("Desktop", "Fonts", ...).
    virtual CString GetDataFolderName() = 0;

    int IsInitialized() const { return m_bInitialized; }

protected:
    // 0 after construction; an agent may set it to 1 in OnRegister.
    int m_bInitialized = 0;
};
