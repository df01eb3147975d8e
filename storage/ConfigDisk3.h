// CConfigDisk3: page 3 (4100) of the Quick Configure Wizard: the secure disk's password and security question.
#pragma once

#include "app/WizardPage.h"

class CConfigDisk3 : public CWizardPage {
    DECLARE_DYNAMIC(CConfigDisk3)
public:
    enum { IDD = 4100 };

    explicit CConfigDisk3(CWnd* pParentWnd = nullptr) : CWizardPage(IDD, pParentWnd) {}
};
