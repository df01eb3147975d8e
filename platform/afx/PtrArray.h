// CPtrArray: an array of untyped pointers; the array never owns what they point to.
#pragma once

#include "platform/afx/Array.h"

class CPtrArray : public CArray<void*, void*> {
    DECLARE_DYNAMIC(CPtrArray)
public:
    using CArray<void*, void*>::CArray;
};
