#include "agents/DesktopAgent.h"

IMPLEMENT_DYNAMIC(CDesktopAgent, CBackAgent)

int CDesktopAgent::OnRegister() {
    return 1;
}

CString CDesktopAgent::GetDataFolderName() {
    return CString(u"Desktop");
}
