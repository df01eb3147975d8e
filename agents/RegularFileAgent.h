// CRegularFileAgent: the backup agent of plain files and folders the user picks. Its data folder in a backup set is
// "RegularFile".
//
// Registration stands here; the agent's tree, backup and restore operations join as the agents are built.
#pragma once

#include "engine/BackAgent.h"

class CRegularFileAgent : public CBackAgent {
    DECLARE_DYNAMIC(CRegularFileAgent)
public:
    CRegularFileAgent() = default;
    ~CRegularFileAgent() override = default;

    int OnRegister() override;
    CString GetDataFolderName() override;
};
