#include "agents/VistaProfileAgent.h"

IMPLEMENT_DYNAMIC(CVistaProfileAgent, CBackAgent)

int CVistaProfileAgent::OnRegister() {
    return 1;
}

CString CVistaProfileAgent::GetDataFolderName() {
    return CString(u"VistaProfileData");
}
