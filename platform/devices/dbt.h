// Device notices: RegisterDeviceNotificationW and the WM_DEVICECHANGE records, BroadcastSystemMessageW.
//
// A window registers for the arrival and removal of a device interface class (the disks, for instance) or of the
// device behind a handle it holds; it then receives WM_DEVICECHANGE with a DBT_* code in wParam and a pointer to
// a DEV_BROADCAST_* record in lParam, sent on its own thread, as on the system. Arrivals and completed removals
// of volumes (a DEV_BROADCAST_VOLUME with the letters) go to every top-level window of a program that registered
// for any notice. A query (DBT_DEVICEQUERYREMOVE) waits for the answers of all programs: a window that answers
// BROADCAST_QUERY_DENY refuses the removal, and then everyone asked receives DBT_DEVICEQUERYREMOVEFAILED.
//
// Where it differs: the notices come from the kernel host, to which a program connects at its first registration
// (starting the host when none runs); a program that never registered receives no volume broadcasts. The
// record of a handle notice (DEV_BROADCAST_HANDLE) has the size of this platform's pointers. A window that does
// not answer a query within twenty seconds counts as agreeing.
#pragma once

#include "platform/base/types.h"

using HDEVNOTIFY = PVOID;

constexpr UINT DBT_DEVICEARRIVAL = 0x8000;
constexpr UINT DBT_DEVICEQUERYREMOVE = 0x8001;
constexpr UINT DBT_DEVICEQUERYREMOVEFAILED = 0x8002;
constexpr UINT DBT_DEVICEREMOVEPENDING = 0x8003;
constexpr UINT DBT_DEVICEREMOVECOMPLETE = 0x8004;
constexpr UINT DBT_DEVNODES_CHANGED = 0x0007;

constexpr DWORD DBT_DEVTYP_OEM = 0;
constexpr DWORD DBT_DEVTYP_VOLUME = 2;
constexpr DWORD DBT_DEVTYP_PORT = 3;
constexpr DWORD DBT_DEVTYP_DEVICEINTERFACE = 5;
constexpr DWORD DBT_DEVTYP_HANDLE = 6;

constexpr WORD DBTF_MEDIA = 0x0001;
constexpr WORD DBTF_NET = 0x0002;

constexpr LRESULT BROADCAST_QUERY_DENY = 0x424D5144;

constexpr DWORD DEVICE_NOTIFY_WINDOW_HANDLE = 0x0;
constexpr DWORD DEVICE_NOTIFY_SERVICE_HANDLE = 0x1;
constexpr DWORD DEVICE_NOTIFY_ALL_INTERFACE_CLASSES = 0x4;

struct DEV_BROADCAST_HDR {
    DWORD dbch_size;
    DWORD dbch_devicetype;
    DWORD dbch_reserved;
};
using PDEV_BROADCAST_HDR = DEV_BROADCAST_HDR*;

struct DEV_BROADCAST_VOLUME {
    DWORD dbcv_size;
    DWORD dbcv_devicetype;
    DWORD dbcv_reserved;
    DWORD dbcv_unitmask;
    WORD dbcv_flags;
};
using PDEV_BROADCAST_VOLUME = DEV_BROADCAST_VOLUME*;
static_assert(sizeof(DEV_BROADCAST_VOLUME) == 20);

struct DEV_BROADCAST_DEVICEINTERFACE_W {
    DWORD dbcc_size;
    DWORD dbcc_devicetype;
    DWORD dbcc_reserved;
    GUID dbcc_classguid;
    WCHAR dbcc_name[1];
};
using PDEV_BROADCAST_DEVICEINTERFACE_W = DEV_BROADCAST_DEVICEINTERFACE_W*;
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32);

struct DEV_BROADCAST_HANDLE {
    DWORD dbch_size;
    DWORD dbch_devicetype;
    DWORD dbch_reserved;
    HANDLE dbch_handle;
    HDEVNOTIFY dbch_hdevnotify;
    GUID dbch_eventguid;
    LONG dbch_nameoffset;
    BYTE dbch_data[1];
};
using PDEV_BROADCAST_HANDLE = DEV_BROADCAST_HANDLE*;

// Only window recipients are supported; a filter of another type, or shorter than its record, fails with
// ERROR_INVALID_DATA. A handle filter needs a handle on a disk or volume device (ERROR_INVALID_HANDLE otherwise).
HDEVNOTIFY RegisterDeviceNotificationW(HANDLE recipient, LPVOID notificationFilter, DWORD flags);
// A window handle is a handle of the system's kind; here it has a type of its own.
inline HDEVNOTIFY RegisterDeviceNotificationW(HWND recipient, LPVOID notificationFilter, DWORD flags) {
    return RegisterDeviceNotificationW(reinterpret_cast<HANDLE>(recipient), notificationFilter, flags);
}
BOOL UnregisterDeviceNotification(HDEVNOTIFY handle);

constexpr DWORD BSF_QUERY = 0x00000001;
constexpr DWORD BSF_IGNORECURRENTTASK = 0x00000002;
constexpr DWORD BSF_FLUSHDISK = 0x00000004;
constexpr DWORD BSF_NOHANG = 0x00000008;
constexpr DWORD BSF_POSTMESSAGE = 0x00000010;
constexpr DWORD BSF_FORCEIFHUNG = 0x00000020;
constexpr DWORD BSF_NOTIMEOUTIFNOTHUNG = 0x00000040;
constexpr DWORD BSM_ALLCOMPONENTS = 0x00000000;
constexpr DWORD BSM_APPLICATIONS = 0x00000008;
constexpr DWORD BSM_ALLDESKTOPS = 0x00000010;

// WM_DEVICECHANGE with a volume record reaches the top-level windows of every program that registered for
// notices (the caller's own too unless BSF_IGNORECURRENTTASK); any other message goes to the caller's own
// top-level windows only, since its parameters cannot travel. Returns a positive value, or -1 with the last
// error set.
long BroadcastSystemMessageW(DWORD flags, LPDWORD recipients, UINT message, WPARAM wParam, LPARAM lParam);
