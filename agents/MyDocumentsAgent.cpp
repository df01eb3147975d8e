#include "agents/MyDocumentsAgent.h"

IMPLEMENT_DYNAMIC(CMyDocumentsAgent, CBackAgent)

int CMyDocumentsAgent::OnRegister() {
    return 1;
}

CString CMyDocumentsAgent::GetDataFolderName() {
    return CString(u"MyDocuments");
}
