// CConfigDisk2: page 2 (3500) of the Quick Configure Wizard: the split between the public and the secure partition.
#pragma once

#include "app/WizardPage.h"

class CConfigDisk2 : public CWizardPage {
    DECLARE_DYNAMIC(CConfigDisk2)
public:
    enum { IDD = 3500 };

    explicit CConfigDisk2(CWnd* pParentWnd = nullptr) : CWizardPage(IDD, pParentWnd) {}
};
