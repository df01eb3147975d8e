#include "storage/RememberPasswordDlg.h"

IMPLEMENT_DYNAMIC(CRememberPasswordDlg, CDialog)

CRememberPasswordDlg::CRememberPasswordDlg(CWnd* pParent) : CDialog(IDD, pParent) {}
