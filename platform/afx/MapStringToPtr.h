// CMapStringToPtr: a map from strings (compared exactly) to pointers, which it does not own.
#pragma once

#include "platform/afx/Map.h"
#include "platform/afx/String.h"

class CMapStringToPtr : public CMap<CString, LPCTSTR, void*, void*> {
    DECLARE_DYNAMIC(CMapStringToPtr)
public:
    using CMap<CString, LPCTSTR, void*, void*>::CMap;
};
