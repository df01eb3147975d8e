// CException: the framework's exception base, thrown and caught by pointer.
//
// As in the framework, code throws a heap object (throw new CFileException(...)) and the catcher calls Delete() on
// it. Exceptions stay inside the framework call that raised them and the caller that catches them; no framework
// exception crosses a callback, thread or library boundary of the layer.
#pragma once

#include "platform/afx/Object.h"

class CException : public CObject {
    DECLARE_DYNAMIC(CException)
public:
    explicit CException(BOOL bAutoDelete = TRUE) : m_bAutoDelete(bAutoDelete) {}

    // Writes a text describing the error (at most nMaxError characters with the terminator); FALSE when there is none.
    virtual BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr);
    // Frees a heap exception; an exception built on the stack (bAutoDelete FALSE) stays.
    void Delete();

protected:
    BOOL m_bAutoDelete;
};

class CMemoryException : public CException {
    DECLARE_DYNAMIC(CMemoryException)
public:
    BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) override;
};

[[noreturn]] void AfxThrowMemoryException();
