#include "platform/afx/MapStringToPtr.h"

IMPLEMENT_DYNAMIC(CMapStringToPtr, CObject)
