// CWindowsMailAgent: the backup agent of Windows Mail's mail data. Its data folder in a backup set is "WindowsMail".
//
// Registration stands here; the agent's tree, backup and restore operations join as the agents are built.
#pragma once

#include "engine/BackAgent.h"

class CWindowsMailAgent : public CBackAgent {
    DECLARE_DYNAMIC(CWindowsMailAgent)
public:
    CWindowsMailAgent() = default;
    ~CWindowsMailAgent() override = default;

    int OnRegister() override;
    CString GetDataFolderName() override;
};
