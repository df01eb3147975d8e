// The share routines under the NAS dialogs: listing connections and a server's shares, connecting a share to a
// drive letter with its retries, disconnecting, and the write-access probe with its file ".netbak_last_access".
// Servers are IP addresses or names without leading backslashes; remote names are "\\server\share" or "\\server".
#pragma once

#include "platform/afx/String.h"

// What the probe found on a share.
constexpr int NAS_ACCESS_NONE = 0;
constexpr int NAS_ACCESS_READ = 1;
constexpr int NAS_ACCESS_READWRITE = 3;
// The answer for a share that may be read but not written (the number of ERROR_NO_SUCH_PRIVILEGE).
constexpr DWORD NAS_ERROR_READ_ONLY = 1313;

BOOL CheckNasUser(BOOL bQuiet);
int ProbeShareAccess(LPCTSTR lpszRemoteName);
// The remote names of the current connections, each followed by a line feed.
void EnumerateConnectedShares(CString& strNames, int& nCount);
// The disk shares of the server (names only), each followed by a line feed.
DWORD EnumerateShareFolders(LPCTSTR lpszServer, CString& strNames, int& nCount);
BOOL IsShareConnected(LPCTSTR lpszServer, LPCTSTR lpszShare);
DWORD AddShareConnection(LPCTSTR lpszServer, LPCTSTR lpszShare, LPCTSTR lpszUser, LPCTSTR lpszPassword,
                         LPCTSTR lpszLocalName, int* pnAccess);
DWORD ConnectShare(LPCTSTR lpszServer, LPCTSTR lpszShare, LPCTSTR lpszUser, LPCTSTR lpszPassword,
                   LPCTSTR lpszLocalName);
BOOL DisConnect(LPCTSTR lpszServer, LPCTSTR lpszShare);
BOOL DisconnectAll(LPCTSTR lpszServer);
void ShowShareError(DWORD dwError);
// Whether the drive letter ("X:") is connected to the share.
BOOL IsLetterConnectedTo(LPCTSTR lpszLocalName, LPCTSTR lpszServer, LPCTSTR lpszShare);
