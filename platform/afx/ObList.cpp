#include "platform/afx/ObList.h"

IMPLEMENT_DYNAMIC(CObList, CObject)
