#include "platform/afx/OleException.h"

IMPLEMENT_DYNAMIC(COleException, CException)
IMPLEMENT_DYNAMIC(COleDispatchException, CException)

COleDispatchException::COleDispatchException(LPCTSTR lpszDescription, UINT nHelpID, WORD wCode)
    : m_wCode(wCode), m_strDescription(lpszDescription ? lpszDescription : _T("")), m_dwHelpContext(nHelpID) {}

void AfxThrowOleException(SCODE sc) {
    throw new COleException(sc);
}

void AfxThrowOleDispatchException(WORD wCode, LPCTSTR lpszDescription, UINT nHelpID) {
    throw new COleDispatchException(lpszDescription, nHelpID, wCode);
}
