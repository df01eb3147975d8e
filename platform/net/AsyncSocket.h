// The framework's asynchronous socket (CAsyncSocket) and AfxSocketInit.
//
// The same as the framework: a socket object wraps one Winsock socket, Create makes and binds it and selects the
// events it wants, and its network events arrive as calls of OnReceive, OnSend, ... on the thread that selected
// them, delivered through a hidden window of that thread's message queue (so they come while the thread pumps
// messages, as a dialog's modal loop does). FD_READ is enabled again by the next receive, so a datagram that
// stays unread is announced once; FD_WRITE is announced once the socket can send and again after a send that
// would have blocked. Failures answer FALSE or SOCKET_ERROR with the reason in GetLastError (WSA codes).
//
// Where it differs: datagram sockets only (Create with SOCK_STREAM fails with WSAESOCKTNOSUPPORT); addresses are
// IPv4. The layer's broadcast address applies (winsock.h).
#pragma once

#include "platform/afx/Object.h"
#include "platform/afx/String.h"
#include "platform/net/winsock.h"

// Winsock's notification message of the framework's hidden socket window.
constexpr UINT WM_SOCKET_NOTIFY = 0x0373;

// Initialises Winsock for the framework (version 1.1); FALSE when it cannot be.
BOOL AfxSocketInit(WSADATA* data = nullptr);

class CAsyncSocket : public CObject {
    DECLARE_DYNAMIC(CAsyncSocket)
public:
    CAsyncSocket();
    ~CAsyncSocket() override;
    CAsyncSocket(const CAsyncSocket&) = delete;
    CAsyncSocket& operator=(const CAsyncSocket&) = delete;

    BOOL Create(UINT nSocketPort = 0, int nSocketType = SOCK_STREAM,
                long lEvent = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE,
                LPCTSTR lpszSocketAddress = nullptr);
    // Chooses the events announced from now on, on the calling thread; 0 announces none.
    BOOL AsyncSelect(long lEvent = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE);
    BOOL SetSockOpt(int nOptionName, const void* lpOptionValue, int nOptionLen, int nLevel = SOL_SOCKET);
    BOOL GetSockOpt(int nOptionName, void* lpOptionValue, int* lpOptionLen, int nLevel = SOL_SOCKET);
    BOOL GetSockName(CString& rSocketAddress, UINT& rSocketPort);
    // Sends one datagram; answers the bytes sent or SOCKET_ERROR.
    int SendTo(const void* lpBuf, int nBufLen, UINT nHostPort, LPCTSTR lpszHostAddress = nullptr, int nFlags = 0);
    // Receives one datagram; answers its length (SOCKET_ERROR with WSAEMSGSIZE when it was longer than the
    // buffer, which then holds its beginning) and the sender's dotted address and port.
    int ReceiveFrom(void* lpBuf, int nBufLen, CString& rSocketAddress, UINT& rSocketPort, int nFlags = 0);
    virtual void Close();

    static int GetLastError() { return WSAGetLastError(); }

    SOCKET m_hSocket = INVALID_SOCKET;

protected:
    virtual void OnReceive(int nErrorCode);
    virtual void OnSend(int nErrorCode);
    virtual void OnOutOfBandData(int nErrorCode);
    virtual void OnAccept(int nErrorCode);
    virtual void OnConnect(int nErrorCode);
    virtual void OnClose(int nErrorCode);

private:
    friend struct CAsyncSocketDispatch;
    void Dispatch(long event, int error);
};
