#include "storage/NasFinderSocket.h"

#include "platform/base/strings.h"
#include "platform/ui/message.h"

#include <cstring>
#include <memory>

namespace {

constexpr int kReplyBuffer = 1024;
constexpr int kHeader = 16;
constexpr int kTextLimit = 127;

// An item's text: at most 127 bytes, in the system's ANSI code page.
CString ItemText(const BYTE* pText, int nLength) {
    char szText[kTextLimit + 1] = {};
    std::memcpy(szText, pText, static_cast<size_t>(nLength < kTextLimit ? nLength : kTextLimit));
    WCHAR szWide[kTextLimit + 1] = {};
    MultiByteToWideChar(CP_ACP, 0, szText, -1, szWide, kTextLimit + 1);
    return CString(szWide);
}

} // namespace

void CNasFinderSocket::MakeQuery(NAS_FINDER_PACKET& packet) {
    std::memset(&packet, 0, sizeof packet);
    const BYTE command[2] = {1, 0};
    std::memcpy(&packet.wCommand, command, sizeof command);
}

bool CNasFinderSocket::ParseReply(const BYTE* pData, int nLength, NAS_SERVER_ENTRY& entry) {
    // Every length byte is checked against what arrived: an answer cut short is not read past its end.
    if (!pData || nLength < kHeader + 2)
        return false;
    const int nFirst = pData[kHeader + 1];
    const int nSecondItem = kHeader + 2 + nFirst;
    if (nSecondItem + 2 > nLength)
        return false;
    const int nSecond = pData[nSecondItem + 1];
    if (nSecondItem + 2 + nSecond > nLength)
        return false;
    entry.strName = ItemText(pData + kHeader + 2, nFirst);
    entry.strInfo = ItemText(pData + nSecondItem + 2, nSecond);
    return !entry.strName.IsEmpty() && !entry.strInfo.IsEmpty();
}

void CNasFinderSocket::OnReceive(int nErrorCode) {
    BYTE buffer[kReplyBuffer];
    CString strAddress;
    UINT nPort = 0;
    const int nRead = ReceiveFrom(buffer, sizeof buffer, strAddress, nPort);
    if (nErrorCode != 0 || nRead == SOCKET_ERROR || nRead < kHeader)
        return;
    auto pEntry = std::make_unique<NAS_SERVER_ENTRY>();
    if (!ParseReply(buffer, nRead, *pEntry))
        return;
    pEntry->strAddress = strAddress;
    if (PostMessageW(m_hWnd, m_nMsg, 0, reinterpret_cast<LPARAM>(pEntry.get())))
        pEntry.release();
}
