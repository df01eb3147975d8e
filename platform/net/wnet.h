// Share connections: WNetAddConnection2W, WNetCancelConnection2W, WNetGetConnectionW and the enumeration of
// connections and of a server's shares.
//
// Stands in for the network provider of Windows' file sharing. The same as Windows: a connection joins a remote
// name "\\server\share" to a drive letter ("X:") or to nothing; the letter then leads to the share's files; a
// server's shares are listed by WNetOpenEnumW(RESOURCE_GLOBALNET) on a container "\\server"; CONNECT_UPDATE_PROFILE
// records a lettered connection in the user's profile (HKEY_CURRENT_USER\Network\<letter>) so that it comes back
// at the next log-on; the calls answer Windows' error codes (and set the last error): 53 no such server, 67 no
// such share, 85 the letter is in use, 1200 not a drive name, 1219 the server is already used with another user
// name, 1326 unknown user or bad password, 2250 not connected. Cancelling a remote name cancels the connections
// of that name that have no letter; a letter is cancelled by its own name.
//
// Where it differs: two providers serve the calls. The machine's own servers are names in the share table of
// platform/fs ("\\server\share" -> host folder); their user accounts, when they have any, are set with
// SetShareAccount, and a server without accounts takes every user. Any other server is a real SMB server, named by
// its IP address (the layer looks no name up on the network), reached through libsmbclient in the layer's
// program smbsharehost: a connected share is mounted with FUSE at a folder of the machine folder ("net/smb"),
// which its letter and its UNC name lead to, and which stays mounted, served by its own process, until the last
// connection of the share is cancelled. A share whose server process ended is no longer connected. The password
// of a real server's session is kept (in the user's own files under "net") while a connection to it lasts, and
// that of a remembered connection until it is forgotten, so that it comes back at the next log-on.
// A user name left out means the current user (the host's login name), whose password counts as empty. The empty
// user name with the empty password is the anonymous session, which a server of the table with accounts lets
// reach only "IPC$". Listing a server's shares needs a session with one of its accounts (or the current user's),
// else ERROR_ACCESS_DENIED (a real server: its own answer, 1326 for a refused user).
// Connections belong to the machine folder's log-on session: every process of the machine sees them and their
// letters (which enter the drive table as remote drives). The log-on session is named by WINLAYER_LOGON, else by
// the host's boot; when it changes, connections that were not remembered are gone and remembered ones are made
// again, at the next call of these functions.
#pragma once

#include "platform/base/types.h"

#include <string>

constexpr DWORD RESOURCE_CONNECTED = 0x00000001;
constexpr DWORD RESOURCE_GLOBALNET = 0x00000002;
constexpr DWORD RESOURCE_REMEMBERED = 0x00000003;

constexpr DWORD RESOURCETYPE_ANY = 0x00000000;
constexpr DWORD RESOURCETYPE_DISK = 0x00000001;
constexpr DWORD RESOURCETYPE_PRINT = 0x00000002;

constexpr DWORD RESOURCEUSAGE_CONNECTABLE = 0x00000001;
constexpr DWORD RESOURCEUSAGE_CONTAINER = 0x00000002;

constexpr DWORD RESOURCEDISPLAYTYPE_GENERIC = 0x00000000;
constexpr DWORD RESOURCEDISPLAYTYPE_SERVER = 0x00000002;
constexpr DWORD RESOURCEDISPLAYTYPE_SHARE = 0x00000003;

constexpr DWORD CONNECT_UPDATE_PROFILE = 0x00000001;
constexpr DWORD CONNECT_TEMPORARY = 0x00000004;
constexpr DWORD CONNECT_INTERACTIVE = 0x00000008;

constexpr DWORD ERROR_UNEXP_NET_ERR = 59;
constexpr DWORD ERROR_BAD_DEV_TYPE = 66;
constexpr DWORD ERROR_NOT_CONTAINER = 1207;
constexpr DWORD ERROR_DEVICE_ALREADY_REMEMBERED = 1202;
constexpr DWORD ERROR_BAD_PROVIDER = 1204;
constexpr DWORD ERROR_NETWORK_UNREACHABLE = 1231;
constexpr DWORD ERROR_OPEN_FILES = 2401;

struct NETRESOURCEW {
    DWORD dwScope;
    DWORD dwType;
    DWORD dwDisplayType;
    DWORD dwUsage;
    LPWSTR lpLocalName;
    LPWSTR lpRemoteName;
    LPWSTR lpComment;
    LPWSTR lpProvider;
};
using LPNETRESOURCEW = NETRESOURCEW*;
using NETRESOURCE = NETRESOURCEW;
using LPNETRESOURCE = LPNETRESOURCEW;

DWORD WNetAddConnection2W(LPNETRESOURCEW netResource, LPCWSTR password, LPCWSTR userName, DWORD flags);
DWORD WNetCancelConnection2W(LPCWSTR name, DWORD flags, BOOL force);
// The remote name of a lettered connection ("X:"); ERROR_MORE_DATA with the length needed when it does not fit.
DWORD WNetGetConnectionW(LPCWSTR localName, LPWSTR remoteName, LPDWORD length);
// RESOURCE_CONNECTED and RESOURCE_REMEMBERED list connections; RESOURCE_GLOBALNET lists the shares of the server
// that `netResource` names ("\\server", a container).
DWORD WNetOpenEnumW(DWORD scope, DWORD type, DWORD usage, LPNETRESOURCEW netResource, LPHANDLE enumHandle);
// Fills the buffer with records followed by their texts; *count in is the most wanted (0xFFFFFFFF: as many as
// fit), out the number given. ERROR_NO_MORE_ITEMS once all were given; ERROR_MORE_DATA with *bufferSize set when
// not even one fits.
DWORD WNetEnumResourceW(HANDLE enumHandle, LPDWORD count, LPVOID buffer, LPDWORD bufferSize);
DWORD WNetCloseEnum(HANDLE enumHandle);

namespace platform::net {

// A user account of one of the machine's share servers (see above); persisted in the machine folder.
bool SetShareAccount(const std::u16string& server, const std::u16string& user, const std::u16string& password);
bool RemoveShareAccounts(const std::u16string& server);

} // namespace platform::net
