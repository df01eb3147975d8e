#include "platform/afx/PtrArray.h"

IMPLEMENT_DYNAMIC(CPtrArray, CObject)
