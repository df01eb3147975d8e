// CDestinationBox: the destination drive of the Auto-Backup and Schedule Backup pages: the drive box filled with
// the eligible drives, the stored destination found again first by its volume serial number, then by its drive
// text, and the selected drive's icon and used and free space. GUI thread only.
#pragma once

#include "platform/afx/ComboBox.h"
#include "platform/afx/String.h"
#include "platform/afx/Wnd.h"
#include "platform/base/types.h"

class CChartCtrl;
class CShellTreeCtrl;

class CDestinationBox {
public:
    // Whether the drive ("X:") is the stored destination: by the serial number when one is stored and the drive's
    // own is not 0 (the stored text then takes the drive's letter), else by the text.
    static BOOL IsDestination(LPCTSTR lpszDrive, CString& strDestDrive, DWORD dwDestSerial);
    // Offers every present eligible drive in ascending order, the destination selected (the last item when none
    // is); TRUE when the destination was added.
    static BOOL Fill(CComboBox* pCombo, CString& strDestDrive, DWORD dwDestSerial);
    // The letter index (A = 0) of the selected drive, or -1.
    static int SelectedIndex(CComboBox* pCombo);

    // Shows the selected drive's shell icon and space in the page's controls: the icon static and six figures
    // (used bytes, used number, used unit, free bytes, free number, free unit), whose ids follow each other from
    // nFirstFigureId. Without a selected drive the figures are emptied and the no-drive icon is shown. The icon
    // shown before is destroyed when the page owned it.
    static void Refresh(CWnd* pPage, CComboBox* pCombo, int nIconId, int nFirstFigureId, HICON& hOwnedIcon);
    // The used and free figures of a drive root (both 0 when no query succeeds).
    static void ShowSpace(CWnd* pPage, LPCTSTR lpszRoot, int nFirstFigureId);
    // The total, available and free bytes of a drive root, from the cluster counts where the byte counts cannot be
    // had; all 0 when neither query succeeds.
    static void QuerySpace(LPCTSTR lpszRoot, ULONGLONG& ullTotal, ULONGLONG& ullAvailable, ULONGLONG& ullTotalFree);
    // The destination pages' drive figures: the file system's name (or "Unformated") in nFileSystemId, and the
    // total, used and free bytes each as thousands, number and unit in the ids of rowIds, and the used and free
    // parts in the chart. Returns the available bytes.
    static ULONGLONG ShowDriveFigures(CWnd* pPage, CChartCtrl& chart, LPCTSTR lpszRoot, int nFileSystemId,
                                      const int (&rowIds)[3][3]);

    // The answer to the drive monitor's space notice for letter index nIndex: the figures of the selected drive
    // are shown again when it is that drive.
    static void OnSpaceChanged(CWnd* pPage, CComboBox* pCombo, int nIndex, int nFirstFigureId);

    // A message of the string table with up to two %s inserts, in a box captioned with the text nCaptionId.
    static int MessageBoxId(CWnd* pPage, UINT nCaptionId, UINT nTextId, UINT nType, LPCTSTR lpszArg1 = nullptr,
                            LPCTSTR lpszArg2 = nullptr);
    // The checks before a page starts its service on the selected drive: sources are checked (5018, naming them
    // by the text nSourceTextId), a destination is offered (5027), a destination other than the stored one is
    // confirmed (5058; a refusal selects the stored one again and shows it), and the drive is not the one the
    // selection's backup store is on (5065). TRUE with the drive ("X:") in strDrive when the page may start.
    static BOOL CheckStart(CWnd* pPage, UINT nCaptionId, UINT nSourceTextId, CShellTreeCtrl& tree, CComboBox* pCombo,
                           const CString& strDestDrive, int nIconId, int nFirstFigureId, HICON& hOwnedIcon,
                           CString& strDrive);
};
