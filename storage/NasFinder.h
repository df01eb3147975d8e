// Network storage discovery: the UDP broadcast on port 8097 that finds storage servers on the local network, and
// the share list of a chosen server.
#pragma once

#include "platform/afx/StringArray.h"
#include "storage/NasFinderSocket.h"

#include <memory>

class CNasFinder {
public:
    CNasFinder();
    ~CNasFinder();
    CNasFinder(const CNasFinder&) = delete;
    CNasFinder& operator=(const CNasFinder&) = delete;

    // Sends the query and keeps listening: every server that answers is posted to the window with the message
    // (wParam 0, lParam a NAS_SERVER_ENTRY* the receiver deletes). 0 once the query is sent; -1 when the socket
    // library or the socket cannot be had.
    int StartFind(HWND hWnd, UINT nMsg);
    void StopFind();

    // Lists the server's shares into the share list, trying the anonymous session, then the current user, then
    // the credentials the user gives in the Connect dialog; answers the number of shares.
    int GetShares(LPCTSTR lpszServer);
    DWORD Connect(LPCTSTR lpszServer, LPCTSTR lpszShare, LPCTSTR lpszUser, LPCTSTR lpszPassword);
    BOOL DisConnect(LPCTSTR lpszServer, LPCTSTR lpszShare);

    const CStringArray& GetShareList() const { return m_arrShares; }
    void SetCredentials(const CString& user, const CString& password) {
        m_strUser = user;
        m_strPassword = password;
    }
    const CString& GetUser() const { return m_strUser; }
    const CString& GetPassword() const { return m_strPassword; }

private:
    CStringArray m_arrShares;
    CString m_strUser;
    CString m_strPassword;
    std::unique_ptr<CNasFinderSocket> m_pSocket;
};
