// CLogViewDlg: the "Log" dialog (258), which shows a stored log file in a tip list (list 1600): the newest entries
// first, information, warnings and errors (never debug entries), with balloon tips. The column widths the user
// chose are kept under the settings root's "Expert\ShowLog".
#pragma once

#include "app/TipListCtrl.h"
#include "app/XMLLog.h"

#include "platform/afx/Dialog.h"
#include "platform/afx/String.h"

class CLogViewDlg : public CDialog {
    DECLARE_DYNAMIC(CLogViewDlg)
public:
    enum { IDD = 258 };

    explicit CLogViewDlg(CWnd* pParentWnd = nullptr);
    ~CLogViewDlg() override;

    // The log file to show; set it before DoModal.
    void SetLogPath(LPCTSTR lpszPath) { m_strLogPath = lpszPath; }

    BOOL OnInitDialog() override;

    // The widths of columns 1 to 3 (defaults 60, 97, 110 where a value cannot be read).
    void LoadColumnWidths(int* pWidths) const;
    void SaveColumnWidths() const;

    CTipListCtrl& GetList() { return m_list; }

protected:
    void OnDestroy();

    DECLARE_MESSAGE_MAP()

private:
    CTipListCtrl m_list;
    CString m_strLogPath;
    CXMLLog m_log;
    // Whether the list got its columns: a viewer of a missing file has none, and then keeps the stored widths.
    BOOL m_bColumns = FALSE;
};

// Whether the "Event log tips" reminder is still wanted: the Expert Mode dialog's answer, or 0 without one.
BOOL ShowLogTipsCallback(LPVOID lpParam);
