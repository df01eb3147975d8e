#include "agents/OutlookAgent.h"

IMPLEMENT_DYNAMIC(COutlookAgent, CBackAgent)

int COutlookAgent::OnRegister() {
    return 1;
}

CString COutlookAgent::GetDataFolderName() {
    return CString(u"Outlook");
}
