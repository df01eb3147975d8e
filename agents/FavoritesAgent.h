// CFavoritesAgent: the backup agent of the user's favorites. Its data folder in a backup set is "Favorites".
//
// Registration stands here; the agent's tree, backup and restore operations join as the agents are built.
#pragma once

#include "engine/BackAgent.h"

class CFavoritesAgent : public CBackAgent {
    DECLARE_DYNAMIC(CFavoritesAgent)
public:
    CFavoritesAgent() = default;
    ~CFavoritesAgent() override = default;

    int OnRegister() override;
    CString GetDataFolderName() override;
};
