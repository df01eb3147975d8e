#include "platform/afx/ObArray.h"

IMPLEMENT_DYNAMIC(CObArray, CObject)
