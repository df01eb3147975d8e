#include "platform/afx/StringList.h"

IMPLEMENT_DYNAMIC(CStringList, CObject)
