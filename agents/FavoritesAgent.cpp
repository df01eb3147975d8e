#include "agents/FavoritesAgent.h"

IMPLEMENT_DYNAMIC(CFavoritesAgent, CBackAgent)

int CFavoritesAgent::OnRegister() {
    return 1;
}

CString CFavoritesAgent::GetDataFolderName() {
    return CString(u"Favorites");
}
