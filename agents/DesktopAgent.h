// CDesktopAgent: the backup agent of the user's desktop. Its data folder in a backup set is "Desktop".
//
// Registration stands here; the agent's tree, backup and restore operations join as the agents are built.
#pragma once

#include "engine/BackAgent.h"

class CDesktopAgent : public CBackAgent {
    DECLARE_DYNAMIC(CDesktopAgent)
public:
    CDesktopAgent() = default;
    ~CDesktopAgent() override = default;

    int OnRegister() override;
    CString GetDataFolderName() override;
};
