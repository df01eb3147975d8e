#include "agents/WindowsMailAgent.h"

IMPLEMENT_DYNAMIC(CWindowsMailAgent, CBackAgent)

int CWindowsMailAgent::OnRegister() {
    return 1;
}

CString CWindowsMailAgent::GetDataFolderName() {
    return CString(u"WindowsMail");
}
