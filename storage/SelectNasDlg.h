// CSelectNasDlg: the "Select NAS Servers" dialog (1700). The user picks a server found on the network (or types
// its address), one of its shares and a free drive letter; OK connects the share to the letter through the
// Connect dialog. The connected letter is the whole result.
#pragma once

#include "platform/afx/ComboBox.h"
#include "platform/afx/Dialog.h"
#include "platform/afx/ListBox.h"
#include "storage/NasFinder.h"

class CSelectNasDlg : public CDialog {
    DECLARE_DYNAMIC(CSelectNasDlg)
public:
    enum { IDD = 1700 };

    explicit CSelectNasDlg(CWnd* pParentWnd = nullptr);
    ~CSelectNasDlg() override;

    const CString& GetServer() const { return m_strServer; }
    const CString& GetShare() const { return m_strShare; }
    const CString& GetDrive() const { return m_strDrive; }

    BOOL OnInitDialog() override;
    void OnOK() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnListMode();
    void OnIpMode();
    void OnServerSelChange();
    void OnEnumShare();
    void OnShareSelChange();
    void OnShareDblClk();
    void OnRefresh();
    void OnDestroy();
    LRESULT OnNasFound(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

private:
    void FillDriveLetters();
    void StartSearch();
    void FreeServerList();
    void SwitchMode(bool bIpMode);
    // The address in the IP control; false for one that cannot be a server (first field 0, or 224 and above).
    bool GetIpAddress(CString& strAddress);
    void EnumShares();

    CString m_strServer;
    CString m_strShare;
    CString m_strUser;
    CString m_strPassword;
    CString m_strDrive;
    bool m_bIpMode = false;
    CNasFinder m_finder;
    CListBox m_lbServers;
    CListBox m_lbShares;
    CComboBox m_cbDrive;
};
