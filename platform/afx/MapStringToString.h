// CMapStringToString: a map from strings to strings (keys compared exactly).
#pragma once

#include "platform/afx/Map.h"
#include "platform/afx/String.h"

class CMapStringToString : public CMap<CString, LPCTSTR, CString, LPCTSTR> {
    DECLARE_DYNAMIC(CMapStringToString)
public:
    using CMap<CString, LPCTSTR, CString, LPCTSTR>::CMap;
};
