// The datagram socket of network storage discovery: it sends the query and turns each answer into a server entry
// posted to its window.
#pragma once

#include "platform/afx/String.h"
#include "platform/net/AsyncSocket.h"

constexpr UINT NAS_FINDER_PORT = 8097;

// The query, 16 bytes as they go on the wire.
#pragma pack(push, 1)
struct NAS_FINDER_PACKET {
    BYTE reserved[8];
    WORD wReserved; // 0, little-endian
    WORD wCommand;  // 1, little-endian
    DWORD dwReserved;
};
#pragma pack(pop)
static_assert(sizeof(NAS_FINDER_PACKET) == 16);

// One server that answered: its address in dotted form and the two texts of its answer.
struct NAS_SERVER_ENTRY {
    CString strAddress;
    CString strName;
    CString strInfo;
};

class CNasFinderSocket : public CAsyncSocket {
public:
    CNasFinderSocket(HWND hWnd, UINT nMsg) : m_hWnd(hWnd), m_nMsg(nMsg) {}

    // Fills the query record.
    static void MakeQuery(NAS_FINDER_PACKET& packet);
    // Reads an answer of `nLength` bytes into an entry; false for an answer that is too short, whose lengths point
    // past its end, or that lacks one of the two texts.
    static bool ParseReply(const BYTE* pData, int nLength, NAS_SERVER_ENTRY& entry);

protected:
    void OnReceive(int nErrorCode) override;

private:
    HWND m_hWnd;
    UINT m_nMsg;
};
