// CStringArray: an array of strings.
#pragma once

#include "platform/afx/Array.h"
#include "platform/afx/String.h"

class CStringArray : public CArray<CString, LPCTSTR> {
    DECLARE_DYNAMIC(CStringArray)
public:
    using CArray<CString, LPCTSTR>::CArray;
};
