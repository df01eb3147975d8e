#include "platform/afx/MapStringToString.h"

IMPLEMENT_DYNAMIC(CMapStringToString, CObject)
