// CMapPtrToPtr: a map from pointers to pointers; neither keys nor values are owned.
#pragma once

#include "platform/afx/Map.h"

class CMapPtrToPtr : public CMap<void*, void*, void*, void*> {
    DECLARE_DYNAMIC(CMapPtrToPtr)
public:
    using CMap<void*, void*, void*, void*>::CMap;
};
