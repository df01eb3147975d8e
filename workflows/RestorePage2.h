// RestorePage2: the target page of the Instant Restore wizard (dialog 3900): where to restore (the original place,
// or a chosen folder 3901 with or without each file's path in the set) and what to do with a file of the same name
// but different content ("Restore all files.", "Display a warning dialog.", "Skip this file and continue."). Every
// change hands the three settings to the backup manager, which the restore job follows. GUI thread only.
#pragma once

#include "app/WizardPage.h"

#include "platform/afx/ComboBox.h"

class RestorePage2 : public CWizardPage {
    DECLARE_DYNAMIC(RestorePage2)
public:
    explicit RestorePage2(CWnd* pParentWnd = nullptr);
    ~RestorePage2() override;

    BOOL OnInitDialog() override;
    BOOL OnQueryCancel() override { return TRUE; }
    BOOL OnWizardFinish() override;

    // 1 the original place, 2 the chosen folder, 3 the chosen folder with each file's path in the set.
    int GetPathOption() const { return m_nPathOption; }
    const CString& GetTargetFolder() const { return m_strTargetFolder; }
    // The item data of the chosen overwrite entry: 1 overwrite, 0 ask, 2 skip.
    int GetCoverOption() const;
    CComboBox& GetCoverCombo() { return m_coverCombo; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void UpdateOptionControls();
    void ApplyOptions();
    void OnOriginalPath();
    void OnSelectedPath();
    void OnBrowse();
    void OnCoverChange();
    LRESULT OnHelpMsg(WPARAM wParam, LPARAM lParam);

    CComboBox m_coverCombo;
    CString m_strTargetFolder;
    int m_nPathOption = 1;

    DECLARE_MESSAGE_MAP()
};
