#include "storage/NasFinder.h"

#include "storage/ConnectDlg.h"
#include "storage/NasShare.h"

#include "platform/net/wnet.h"

CNasFinder::CNasFinder() = default;

CNasFinder::~CNasFinder() {
    StopFind();
}

int CNasFinder::StartFind(HWND hWnd, UINT nMsg) {
    if (!AfxSocketInit())
        return -1;
    StopFind();
    auto pSocket = std::make_unique<CNasFinderSocket>(hWnd, nMsg);
    if (!pSocket->Create(NAS_FINDER_PORT, SOCK_DGRAM, FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE))
        return -1;
    int nBroadcast = 1;
    pSocket->SetSockOpt(SO_BROADCAST, &nBroadcast, sizeof nBroadcast);
    NAS_FINDER_PACKET packet;
    CNasFinderSocket::MakeQuery(packet);
    pSocket->SendTo(&packet, sizeof packet, NAS_FINDER_PORT, u"255.255.255.255");
    m_pSocket = std::move(pSocket);
    return 0;
}

void CNasFinder::StopFind() {
    if (m_pSocket) {
        m_pSocket->Close();
        m_pSocket.reset();
    }
}

int CNasFinder::GetShares(LPCTSTR lpszServer) {
    m_arrShares.RemoveAll();
    CString strNames;
    int nCount = 0;
    DWORD dwResult = EnumerateShareFolders(lpszServer, strNames, nCount);
    if (dwResult != ERROR_SUCCESS &&
        AddShareConnection(lpszServer, _T("IPC$"), _T(""), _T(""), nullptr, nullptr) == ERROR_SUCCESS) {
        dwResult = EnumerateShareFolders(lpszServer, strNames, nCount);
        CString strIpc;
        strIpc.Format(_T("\\\\%s\\IPC$"), lpszServer);
        WNetCancelConnection2W(strIpc, 0, TRUE);
    }
    if (dwResult != ERROR_SUCCESS && !IsShareConnected(lpszServer, nullptr)) {
        AddShareConnection(lpszServer, nullptr, nullptr, nullptr, nullptr, nullptr);
        dwResult = EnumerateShareFolders(lpszServer, strNames, nCount);
    }
    if (dwResult != ERROR_SUCCESS) {
        CConnectDlg dlg(lpszServer, nullptr, nullptr, m_strUser, m_strPassword);
        if (dlg.DoModal() == IDOK) {
            m_strUser = dlg.GetUser();
            m_strPassword = dlg.GetPassword();
        }
        dwResult = EnumerateShareFolders(lpszServer, strNames, nCount);
    }
    if (dwResult != ERROR_SUCCESS)
        return 0;
    int nStart = 0;
    for (int nEnd = strNames.Find(_T('\n')); nEnd >= 0; nEnd = strNames.Find(_T('\n'), nStart)) {
        m_arrShares.Add(strNames.Mid(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
    return static_cast<int>(m_arrShares.GetSize());
}

DWORD CNasFinder::Connect(LPCTSTR lpszServer, LPCTSTR lpszShare, LPCTSTR lpszUser, LPCTSTR lpszPassword) {
    return AddShareConnection(lpszServer, lpszShare, lpszUser, lpszPassword, nullptr, nullptr);
}

BOOL CNasFinder::DisConnect(LPCTSTR lpszServer, LPCTSTR lpszShare) {
    return ::DisConnect(lpszServer, lpszShare);
}
