#include "platform/afx/Button.h"
#include "platform/afx/ComboBox.h"
#include "platform/afx/Edit.h"
#include "platform/afx/ListBox.h"
#include "platform/afx/ScrollBar.h"
#include "platform/afx/Static.h"

IMPLEMENT_DYNAMIC(CButton, CWnd)
IMPLEMENT_DYNAMIC(CStatic, CWnd)
IMPLEMENT_DYNAMIC(CEdit, CWnd)
IMPLEMENT_DYNAMIC(CComboBox, CWnd)
IMPLEMENT_DYNAMIC(CListBox, CWnd)
IMPLEMENT_DYNAMIC(CScrollBar, CWnd)
