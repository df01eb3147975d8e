// CStringList: a list of strings.
#pragma once

#include "platform/afx/List.h"
#include "platform/afx/String.h"

class CStringList : public CList<CString, LPCTSTR> {
    DECLARE_DYNAMIC(CStringList)
public:
    using CList<CString, LPCTSTR>::CList;
};
