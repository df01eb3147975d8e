#include "platform/afx/PtrList.h"

IMPLEMENT_DYNAMIC(CPtrList, CObject)
