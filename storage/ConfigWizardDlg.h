// CConfigWizardDlg: the Quick Configure Wizard (2100), which partitions the enclosure's disk into a public and a
// secure partition, formats them and sets the secure disk's password. It is run modally with the five pages
// CConfigDisk1 to CConfigDisk5 (3400, 3500, 4100, 3600, 3700).
//
// The wizard and its pages join as the storage devices are built; what stands here is the host the start-up
// routine builds for "/configdisk". Its templates are not there yet, so it does not open.
#pragma once

#include "app/WizardDialog.h"
#include "storage/ConfigDisk1.h"
#include "storage/ConfigDisk2.h"
#include "storage/ConfigDisk3.h"
#include "storage/ConfigDisk4.h"
#include "storage/ConfigDisk5.h"

class CConfigWizardDlg : public CWizardDialog {
    DECLARE_DYNAMIC(CConfigWizardDlg)
public:
    enum { IDD = 2100 };

    explicit CConfigWizardDlg(CWnd* pParentWnd = nullptr);

    BOOL OnInitDialog() override;
};
