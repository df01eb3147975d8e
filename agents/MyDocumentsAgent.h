// CMyDocumentsAgent: the backup agent of the user's documents folder. Its data folder in a backup set is "MyDocuments".
//
// Registration stands here; the agent's tree, backup and restore operations join as the agents are built.
#pragma once

#include "engine/BackAgent.h"

class CMyDocumentsAgent : public CBackAgent {
    DECLARE_DYNAMIC(CMyDocumentsAgent)
public:
    CMyDocumentsAgent() = default;
    ~CMyDocumentsAgent() override = default;

    int OnRegister() override;
    CString GetDataFolderName() override;
};
