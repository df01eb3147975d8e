// COleException and COleDispatchException: failures of OLE and automation calls, thrown by pointer.
//
// As in the framework: COleException carries the failing status (m_sc); COleDispatchException carries what an
// automation server reported (its status and description). The catcher calls Delete().
#pragma once

#include "platform/afx/Exception.h"
#include "platform/afx/String.h"
#include "platform/com/oleauto.h"

class COleException : public CException {
    DECLARE_DYNAMIC(COleException)
public:
    explicit COleException(SCODE sc = 0) : m_sc(sc) {}
    SCODE m_sc;
};

class COleDispatchException : public CException {
    DECLARE_DYNAMIC(COleDispatchException)
public:
    COleDispatchException(LPCTSTR lpszDescription, UINT nHelpID, WORD wCode);
    WORD m_wCode;
    SCODE m_scError = 0;
    CString m_strDescription;
    DWORD m_dwHelpContext;
};

[[noreturn]] void AfxThrowOleException(SCODE sc);
[[noreturn]] void AfxThrowOleDispatchException(WORD wCode, LPCTSTR lpszDescription, UINT nHelpID = 0);
