// CObList: a list of CObject pointers; the list never deletes the objects.
#pragma once

#include "platform/afx/List.h"

class CObList : public CList<CObject*, CObject*> {
    DECLARE_DYNAMIC(CObList)
public:
    using CList<CObject*, CObject*>::CList;
};
