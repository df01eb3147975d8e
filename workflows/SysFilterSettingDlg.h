// CSysFilterSettingDlg: the "Filter Setting" dialog (3100), which edits the list of file-name patterns that backup
// and restore leave out. The list is stored as the value "Filter" under the settings root, the patterns joined by
// one TAB. A stored list of any length is read whole, so that opening the dialog and pressing OK never loses
// patterns. After OK, GetFilterText holds the joined list, which the caller hands to the pages' trees; a list that
// could not be stored is used all the same and reported as an error in the system log.
#pragma once

#include "platform/afx/Dialog.h"
#include "platform/afx/ListCtrl.h"
#include "platform/afx/StringArray.h"

class CSysFilterSettingDlg : public CDialog {
    DECLARE_DYNAMIC(CSysFilterSettingDlg)
public:
    enum { IDD = 3100 };

    explicit CSysFilterSettingDlg(CWnd* pParentWnd = nullptr);

    const CString& GetFilterText() const { return m_strFilter; }
    BOOL IsStored() const { return m_bStored; }

    // The stored list (empty when there is none); FALSE when a stored value cannot be read.
    static BOOL ReadFilter(CString& strFilter);
    // The patterns of a stored list: split at each TAB, empty parts between two TABs kept, a trailing TAB ignored.
    static void SplitFilter(const CString& strFilter, CStringArray& patterns);

    BOOL OnInitDialog() override;
    void OnOK() override;

protected:
    void OnAdd();
    void OnRemove();
    void OnEditChange();
    void OnItemChanged(NMHDR* pNMHDR, LRESULT* pResult);
    void OnHint();
    LRESULT OnHelpMsg(WPARAM wParam, LPARAM lParam);
    void ShowHint(BOOL bExpand);
    void UpdateButtons();

    DECLARE_MESSAGE_MAP()

private:
    CListCtrl m_list;
    CString m_strFilter;
    BOOL m_bStored = FALSE;
    BOOL m_bExpanded = TRUE;
};
