// CFontsAgent: the backup agent of the installed fonts. Its data folder in a backup set is "Fonts".
//
// Registration stands here; the agent's tree, backup and restore operations join as the agents are built.
#pragma once

#include "engine/BackAgent.h"

class CFontsAgent : public CBackAgent {
    DECLARE_DYNAMIC(CFontsAgent)
public:
    CFontsAgent() = default;
    ~CFontsAgent() override = default;

    int OnRegister() override;
    CString GetDataFolderName() override;
};
