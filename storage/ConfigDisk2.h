// CConfigDisk2: page 2 (3500) of the Quick Configure Wizard: the split of the disk between the public part and the
// secure part, in megabytes, typed into the edit (with its up-down control) or set with the size slider.
//
// The public part keeps at least a tenth of the disk (the secure part is at most nine tenths); a secure part, when
// there is one, has at least 8 MB. Leaving the edit (and Next) applies these rules to what was typed; a value that
// is no size of this disk puts the current public size back.
//
// GUI thread only.
#pragma once

#include "app/SizeSliderCtrl.h"
#include "app/WizardPage.h"

#include "platform/afx/SpinButtonCtrl.h"

class CConfigDisk2 : public CWizardPage {
    DECLARE_DYNAMIC(CConfigDisk2)
public:
    enum { IDD = 3500 };

    explicit CConfigDisk2(CWnd* pParentWnd = nullptr) : CWizardPage(IDD, pParentWnd) {}

    BOOL OnInitDialog() override;
    LRESULT OnWizardNext() override;
    void OnSetActive() override;

    // The disk's size T: half of it for each part to start with.
    void SetTotalSize(ULONGLONG ullTotalMB);

    CSpinButtonCtrl m_spin;
    CSizeSliderCtrl m_slider;
    ULONGLONG m_ullTotalMB = 0;
    ULONGLONG m_ullSecureMB = 0;
    ULONGLONG m_ullPublicMB = 0;
    ULONGLONG m_ullMaxSecureMB = 0;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnChangePublicSize();
    void OnKillFocusPublicSize();
    void OnHScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);
    LRESULT OnHelpMsg(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    // The edit's number; 0 for text that is no number.
    ULONGLONG ReadPublicSize() const;
    void ShowSizes(BOOL bEdit);
    void ApplyTypedSize();
    // The slider back at the public size, and its split painted.
    void SyncSlider();
};
