#include "agents/RegularFileAgent.h"

IMPLEMENT_DYNAMIC(CRegularFileAgent, CBackAgent)

int CRegularFileAgent::OnRegister() {
    // The plain-file agent is ready as soon as it is registered.
    m_bInitialized = 1;
    return 1;
}

CString CRegularFileAgent::GetDataFolderName() {
    return CString(u"RegularFile");
}
