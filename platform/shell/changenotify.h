// Shell change notifications: SHChangeNotifyRegister, SHChangeNotifyDeregister and SHChangeNotify.
//
// Stands in for the shell's change notifications. The same as Windows: a window registers for SHCNE_* events below
// one or more item id lists (recursively or for the folder's own items) and gets its message for each change; the
// interrupt-level source (SHCNRF_InterruptLevel) is the file system, the shell-level source (SHCNRF_ShellLevel)
// what programs report with SHChangeNotify; SHCNRF_RecursiveInterrupt lets file-system changes of a recursive
// registration come from every folder below it. A registration ends with SHChangeNotifyDeregister.
//
// One delivery format on both sides: the message is sent (SendMessageW, so the receiver's thread handles it while it
// waits for messages) with wParam pointing to two absolute item id lists (PIDLIST_ABSOLUTE[2]: the item, and the
// new name of a rename or null) and lParam the event. The lists live only during the call. The new-delivery form of
// Windows (SHCNRF_NewDelivery, SHChangeNotification_Lock) is not offered: a registration that asks for it fails.
//
// Where it differs: file-system changes come from inotify, for every folder the shell has listed (shellfolder.h)
// or was registered for, while a registration covers it: creating, deleting and renaming files and folders, and
// writing a file or changing its attributes (SHCNE_UPDATEITEM); a rename within watched folders arrives as one
// SHCNE_RENAMEITEM or SHCNE_RENAMEFOLDER, a move out of them as a deletion, into them as a creation. When changes
// were lost (the host's queue overflowed), every watched folder gets SHCNE_UPDATEDIR. Drives come from the drive
// table and its providers (a plugged disk's volumes, announced through platform::fs::NotifyDrivesChanged): a letter
// that appears gives SHCNE_DRIVEADD and one that goes SHCNE_DRIVEREMOVED, with "X:\" as the item.
// A change already on its way when a registration ends may still arrive once.
#pragma once

#include "platform/shell/idlist.h"

constexpr LONG SHCNE_RENAMEITEM = 0x00000001;
constexpr LONG SHCNE_CREATE = 0x00000002;
constexpr LONG SHCNE_DELETE = 0x00000004;
constexpr LONG SHCNE_MKDIR = 0x00000008;
constexpr LONG SHCNE_RMDIR = 0x00000010;
constexpr LONG SHCNE_MEDIAINSERTED = 0x00000020;
constexpr LONG SHCNE_MEDIAREMOVED = 0x00000040;
constexpr LONG SHCNE_DRIVEREMOVED = 0x00000080;
constexpr LONG SHCNE_DRIVEADD = 0x00000100;
constexpr LONG SHCNE_NETSHARE = 0x00000200;
constexpr LONG SHCNE_NETUNSHARE = 0x00000400;
constexpr LONG SHCNE_ATTRIBUTES = 0x00000800;
constexpr LONG SHCNE_UPDATEDIR = 0x00001000;
constexpr LONG SHCNE_UPDATEITEM = 0x00002000;
constexpr LONG SHCNE_SERVERDISCONNECT = 0x00004000;
constexpr LONG SHCNE_UPDATEIMAGE = 0x00008000;
constexpr LONG SHCNE_DRIVEADDGUI = 0x00010000;
constexpr LONG SHCNE_RENAMEFOLDER = 0x00020000;
constexpr LONG SHCNE_FREESPACE = 0x00040000;
constexpr LONG SHCNE_ASSOCCHANGED = 0x08000000;
constexpr LONG SHCNE_DISKEVENTS = 0x0002381F;
constexpr LONG SHCNE_GLOBALEVENTS = 0x0C0581E0;
constexpr LONG SHCNE_ALLEVENTS = 0x7FFFFFFF;

constexpr int SHCNRF_InterruptLevel = 0x0001;
constexpr int SHCNRF_ShellLevel = 0x0002;
constexpr int SHCNRF_RecursiveInterrupt = 0x1000;
constexpr int SHCNRF_NewDelivery = 0x8000;

constexpr UINT SHCNF_IDLIST = 0x0000;
constexpr UINT SHCNF_PATHW = 0x0005;
constexpr UINT SHCNF_PATH = SHCNF_PATHW;
constexpr UINT SHCNF_TYPE = 0x00FF;
constexpr UINT SHCNF_FLUSH = 0x1000;
constexpr UINT SHCNF_FLUSHNOWAIT = 0x3000;

struct SHChangeNotifyEntry {
    PCIDLIST_ABSOLUTE pidl;
    BOOL fRecursive;
};

// The registration's id, or 0 (ERROR_INVALID_PARAMETER for a bad window, message or entry list,
// ERROR_NOT_SUPPORTED for SHCNRF_NewDelivery).
ULONG SHChangeNotifyRegister(HWND hwnd, int fSources, LONG fEvents, UINT wMsg, int cEntries,
                             const SHChangeNotifyEntry* pshcne);
BOOL SHChangeNotifyDeregister(ULONG ulID);
// Reports a change to the shell-level registrations: asynchronously, or, with SHCNF_FLUSH, delivered before it
// returns. The items are lists (SHCNF_IDLIST) or Windows paths (SHCNF_PATHW).
void SHChangeNotify(LONG wEventId, UINT uFlags, LPCVOID dwItem1, LPCVOID dwItem2);
