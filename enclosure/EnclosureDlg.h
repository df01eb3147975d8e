// CEnclosureDlg: the main window of Enclosure for the whole life of the first instance. It is never shown: it owns
// the drive monitor, the device manager thread and the rules that decide when an arriving disk is the enclosure
// and the main program is to be started, and it turns the device thread's reports into actions.
#pragma once

#include "enclosure/EnclosureDevManager.h"
#include "shared/DiskDriveMonitor.h"
#include "shared/TrayDialog.h"

class CEnclosureServ;

constexpr UINT WM_ENCLOSURE_ONE_TOUCH = WM_USER + 1002;
constexpr UINT WM_ENCLOSURE_LAUNCH = WM_USER + 3000;
constexpr UINT WM_ENCLOSURE_CONFIG_DISK = WM_USER + 3001;
constexpr UINT ID_ENCLOSURE_EXIT = 32771;
constexpr UINT ID_ENCLOSURE_RESTORE = 32772;
constexpr UINT IDM_ABOUTBOX = 16;

class CEnclosureDlg : public CTrayDialog {
    DECLARE_DYNAMIC(CEnclosureDlg)
public:
    enum { IDD = 102 };
    explicit CEnclosureDlg(CWnd* pParent = nullptr);
    ~CEnclosureDlg() override;

    // The automation objects: the latest one is recorded; the record goes only when no object is left.
    void SetServ(CEnclosureServ* pServ);
    void ReleaseServ(CEnclosureServ* pServ);
    CEnclosureServ* GetServ() const { return m_pServ; }
    void SetNotifyValues(long lValue1, long lValue2) {
        m_lNotify1 = lValue1;
        m_lNotify2 = lValue2;
    }
    CEnclosureDevManager& GetDevManager() { return m_devManager; }
    CDiskDriveMonitor& GetDriveMonitor() { return m_driveMonitor; }
    const CString& GetMainProgramPath() const { return m_strMainProgram; }
    const CString& GetConfigDiskParameter() const { return m_strConfigDisk; }

protected:
    BOOL OnInitDialog() override;
    void OnCancel() override;
    void OnOK() override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    void OnDestroy();
    void OnClose();
    BOOL OnQueryEndSession();
    void OnExit();
    void OnRestore();
    void OnCloseButton();
    LRESULT OnDriveNotify(WPARAM wParam, LPARAM lParam);
    LRESULT OnDeviceReport(WPARAM wParam, LPARAM lParam);
    LRESULT OnOneTouch(WPARAM wParam, LPARAM lParam);
    LRESULT OnLaunch(WPARAM wParam, LPARAM lParam);
    LRESULT OnConfigDisk(WPARAM wParam, LPARAM lParam);

    // A volume arrived on letter index nIndex (or was found at start-up).
    void OnVolumeArrived(int nIndex);

    DECLARE_MESSAGE_MAP()

private:
    HICON m_hIcon = nullptr;
    CEnclosureServ* m_pServ = nullptr;
    int m_nServs = 0;
    CEnclosureDevManager m_devManager;
    CDiskDriveMonitor m_driveMonitor;
    CString m_strMainProgram;
    CString m_strConfigDisk = _T("/configdisk");
    long m_lNotify1 = 0;
    long m_lNotify2 = 0;
    BOOL m_bStartup = FALSE;
    CString m_strLastDiskId;
};
