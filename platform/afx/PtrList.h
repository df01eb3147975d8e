// CPtrList: a list of untyped pointers; the list never owns what they point to.
#pragma once

#include "platform/afx/List.h"

class CPtrList : public CList<void*, void*> {
    DECLARE_DYNAMIC(CPtrList)
public:
    using CList<void*, void*>::CList;
};
