#include "agents/OutlookEAgent.h"

IMPLEMENT_DYNAMIC(COutlookEAgent, CBackAgent)

int COutlookEAgent::OnRegister() {
    return 1;
}

CString COutlookEAgent::GetDataFolderName() {
    return CString(u"OutlookExpress");
}
