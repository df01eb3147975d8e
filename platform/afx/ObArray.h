// CObArray: an array of CObject pointers; the array never deletes the objects.
#pragma once

#include "platform/afx/Array.h"

class CObArray : public CArray<CObject*, CObject*> {
    DECLARE_DYNAMIC(CObArray)
public:
    using CArray<CObject*, CObject*>::CArray;
};
