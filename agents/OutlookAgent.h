// COutlookAgent: the backup agent of Outlook's mail data. Its data folder in a backup set is "Outlook".
//
// Registration stands here; the agent's tree, backup and restore operations join as the agents are built.
#pragma once

#include "engine/BackAgent.h"

class COutlookAgent : public CBackAgent {
    DECLARE_DYNAMIC(COutlookAgent)
public:
    COutlookAgent() = default;
    ~COutlookAgent() override = default;

    int OnRegister() override;
    CString GetDataFolderName() override;
};
