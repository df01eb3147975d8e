// What the two restore pages (the Instant Restore wizard's first page and the Expert Mode dialog's Restore page)
// share: the drives that hold backups, the drive's icon, the backup sets of a drive and the set's path.
//
// A backup set is a folder whose name holds '@' (user name, '@', computer name) in the folder "KovraData" at the
// root of a drive. GUI thread only.
#pragma once

#include "engine/ShellTreeCtrl.h"

#include "platform/afx/ComboBox.h"
#include "platform/afx/String.h"
#include "platform/ui/window.h"

namespace restoresource {

// The drives present whose volume may hold backups and holds some: bit n for the letter 'A' + n.
DWORD GetBackupDrives();

// Offers every drive of the mask to the combo box from A upward (the application's destination-drive items), with
// the one whose letter is chSelect selected (no letter, 0, selects none); the last item when none is selected.
void FillDriveCombo(CComboBox& combo, DWORD dwDrives, TCHAR chSelect);

// The root ("X:\") of the selected drive, empty when the list is empty.
CString GetSelectedRoot(CComboBox& combo);

// Shows the shell's icon of the drive root (small or large) in the static, or icon 553 when the root has no item
// id list (the debug entry "Wrong PIDL, strDrive = %s\n" then says so). Returns the icon the caller now owns and
// destroys when it is replaced, or null when the static shows a resource icon.
HICON ShowDriveIcon(CWnd* pParent, int nStaticId, const CString& strRoot, BOOL bLarge, LPCTSTR lpszSource, int nLine);

// Empties the combo box and adds the name of every backup set on the drive (folders included when hidden).
void FillSetCombo(CComboBox& combo, const CString& strRoot);

// The set folder of a drive root and a set name: "<root>KovraData\<name>".
CString GetSetPath(const CString& strRoot, const CString& strName);

// The drives ("X:", joined by ", ") that a restore to the original place would write to and that this computer does
// not have: the letters of the set's "Disk X" folders checked or partly checked in the restore tree. Empty when
// every one is there.
CString GetMissingOriginalDrives(CShellTreeCtrl& tree);

// The refusal of a restore to the original place onto drives that do not exist.
CString GetMissingDrivesText(const CString& strDrives);

} // namespace restoresource
