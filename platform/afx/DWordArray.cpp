#include "platform/afx/DWordArray.h"

IMPLEMENT_DYNAMIC(CDWordArray, CObject)
