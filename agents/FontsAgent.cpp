#include "agents/FontsAgent.h"

IMPLEMENT_DYNAMIC(CFontsAgent, CBackAgent)

int CFontsAgent::OnRegister() {
    return 1;
}

CString CFontsAgent::GetDataFolderName() {
    return CString(u"Fonts");
}
