// CVistaProfileAgent: the backup agent of the Windows Vista user profile. Its data folder in a backup set is
// "VistaProfileData".
//
// Registration stands here; the agent's tree, backup and restore operations join as the agents are built.
#pragma once

#include "engine/BackAgent.h"

class CVistaProfileAgent : public CBackAgent {
    DECLARE_DYNAMIC(CVistaProfileAgent)
public:
    CVistaProfileAgent() = default;
    ~CVistaProfileAgent() override = default;

    int OnRegister() override;
    CString GetDataFolderName() override;
};
