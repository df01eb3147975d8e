// CConfigDisk4: page 4 (3600) of the Quick Configure Wizard: the summary before the disk is prepared.
#pragma once

#include "app/WizardPage.h"

class CConfigDisk4 : public CWizardPage {
    DECLARE_DYNAMIC(CConfigDisk4)
public:
    enum { IDD = 3600 };

    explicit CConfigDisk4(CWnd* pParentWnd = nullptr) : CWizardPage(IDD, pParentWnd) {}
};
