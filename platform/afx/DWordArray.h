// CDWordArray: an array of 32-bit values.
#pragma once

#include "platform/afx/Array.h"

class CDWordArray : public CArray<DWORD, DWORD> {
    DECLARE_DYNAMIC(CDWordArray)
public:
    using CArray<DWORD, DWORD>::CArray;
};
