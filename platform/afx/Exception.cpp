#include "platform/afx/Exception.h"

#include "platform/base/strings.h"

IMPLEMENT_DYNAMIC(CException, CObject)
IMPLEMENT_DYNAMIC(CMemoryException, CException)

BOOL CException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext) {
    if (pnHelpContext)
        *pnHelpContext = 0;
    if (lpszError && nMaxError > 0)
        lpszError[0] = 0;
    return FALSE;
}

void CException::Delete() {
    if (m_bAutoDelete)
        delete this;
}

BOOL CMemoryException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext) {
    if (pnHelpContext)
        *pnHelpContext = 0;
    if (!lpszError || nMaxError == 0)
        return FALSE;
    platform::CopyTruncated(lpszError, nMaxError, u"Out of memory.");
    return TRUE;
}

void AfxThrowMemoryException() {
    throw new CMemoryException;
}
