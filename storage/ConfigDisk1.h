// CConfigDisk1: page 1 (3400) of the Quick Configure Wizard: the choice of the enclosure's disk and its drive letters.
#pragma once

#include "app/WizardPage.h"

class CConfigDisk1 : public CWizardPage {
    DECLARE_DYNAMIC(CConfigDisk1)
public:
    enum { IDD = 3400 };

    explicit CConfigDisk1(CWnd* pParentWnd = nullptr) : CWizardPage(IDD, pParentWnd) {}
};
