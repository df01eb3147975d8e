// CFileActionTargets: what the Auto-Backup filter query attaches to each change it accepts: the backup copies of
// the changed path (one per agent that owns it), those of the old path of a rename, and whether a new folder is to
// be copied whole.
#pragma once

#include "platform/afx/Object.h"
#include "platform/afx/StringList.h"

class CFileActionTargets : public CObject {
    DECLARE_DYNAMIC(CFileActionTargets)
public:
    CFileActionTargets() = default;
    ~CFileActionTargets() override {
        m_newTargets.RemoveAll();
        m_oldTargets.RemoveAll();
    }

    CStringList m_newTargets;
    CStringList m_oldTargets;
    int m_bWholeFolder = 0;
};
