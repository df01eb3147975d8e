// CConfigDisk1: page 1 (3400) of the Quick Configure Wizard: the choice of the disk and of the drive letters its
// public and secure parts will take.
//
// The disks are those the drive monitor tracks, in device-number order, except disk 0 (the system's own disk is
// never offered); each item carries its device number, and the disk is looked up again whenever it is needed, so a
// disk that goes while the page shows is never touched. The page lets the wizard go on only with a disk chosen and
// two drive letters found for it.
//
// GUI thread only.
#pragma once

#include "app/WizardPage.h"

#include "platform/afx/ComboBox.h"

class CPhysicalDrive;

class CConfigDisk1 : public CWizardPage {
    DECLARE_DYNAMIC(CConfigDisk1)
public:
    enum { IDD = 3400 };

    explicit CConfigDisk1(CWnd* pParentWnd = nullptr) : CWizardPage(IDD, pParentWnd) {}

    BOOL OnInitDialog() override;
    LRESULT OnWizardNext() override;
    void OnSetActive() override;

    // The device number of the chosen disk, -1 when none is chosen.
    int GetSelectedDiskNumber() const;

    CComboBox m_cbDisks;
    ULONGLONG m_ullCapacityMB = 0;
    UINT m_nSecureIndex = 0;
    UINT m_nPublicIndex = 0;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnSelectDisk();
    LRESULT OnHelpMsg(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    CPhysicalDrive* GetSelectedDisk() const;
    // The public letter is the first usable one from C upward, the secure letter the second; FALSE (both A) with
    // fewer than two.
    BOOL ChooseDriveLetters(CPhysicalDrive* pDisk);
    BOOL m_bLettersFound = FALSE;
};
