// CConfigDisk5: page 5 (3700) of the Quick Configure Wizard: the progress of partitioning and formatting.
#pragma once

#include "app/WizardPage.h"

class CConfigDisk5 : public CWizardPage {
    DECLARE_DYNAMIC(CConfigDisk5)
public:
    enum { IDD = 3700 };

    explicit CConfigDisk5(CWnd* pParentWnd = nullptr) : CWizardPage(IDD, pParentWnd) {}
};
