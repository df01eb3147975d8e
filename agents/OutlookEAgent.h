// COutlookEAgent: the backup agent of Outlook Express's mail identities. Its data folder in a backup set is
// "OutlookExpress".
//
// Registration stands here; the agent's tree, backup and restore operations join as the agents are built.
#pragma once

#include "engine/BackAgent.h"

class COutlookEAgent : public CBackAgent {
    DECLARE_DYNAMIC(COutlookEAgent)
public:
    COutlookEAgent() = default;
    ~COutlookEAgent() override = default;

    int OnRegister() override;
    CString GetDataFolderName() override;
};
