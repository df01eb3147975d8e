#include "storage/NasFinder.h"

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
