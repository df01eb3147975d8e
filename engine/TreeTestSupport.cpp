#include "engine/TreeTestSupport.h"

BEGIN_MESSAGE_MAP(CTreeHostWnd, CWnd)
ON_MESSAGE(WM_TREE_CHECK_CHANGED, OnCheckChanged)
END_MESSAGE_MAP()
