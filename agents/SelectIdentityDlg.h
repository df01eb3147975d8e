// CSelectIdentityDlg: the "Select Identity" dialog (2400) shown before Outlook Express data is restored. For each
// identity chosen in the backup set in turn it shows the name as the "Original User:" and lets the user pick, from
// this computer's identities that have been used, the identity to restore it into. It ends with IDOK once every
// source has a target, IDCANCEL when the user cancels (the targets chosen so far stay in the list), and 3 when this
// computer has no identity to offer.
#pragma once

#include "platform/afx/Dialog.h"
#include "platform/afx/ListCtrl.h"
#include "platform/afx/StringList.h"

class CSelectIdentityDlg : public CDialog {
    DECLARE_DYNAMIC(CSelectIdentityDlg)
public:
    enum { IDD = 2400 };

    explicit CSelectIdentityDlg(CWnd* pParent = nullptr);

    // Set before DoModal: the source names in the order they are matched, and the list that receives one target
    // name per source, in the same order.
    CStringList* m_pSourceList = nullptr;
    CStringList* m_pTargetList = nullptr;

    BOOL OnInitDialog() override;
    void OnOK() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnItemChanged(NMHDR* pNMHDR, LRESULT* pResult);
    void ShowNextSource();

    POSITION m_pos = nullptr;
    CListCtrl m_list;

    DECLARE_MESSAGE_MAP()
};
