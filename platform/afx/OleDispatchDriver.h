// COleDispatchDriver: the client side of automation, calling an object's methods by dispatch id.
//
// As in the framework: CreateDispatch makes the object by ProgID or class id (a local server is started when it is
// not running) and answers FALSE on failure, with the status in the optional COleException; InvokeHelper calls a
// dispatch id with arguments described by a VTS_ string and stores the result converted to vtRet; a failed call
// throws COleDispatchException (the server reported an exception) or COleException (any other status, such as a
// server that is gone); the driver releases the object when it is destroyed, unless it was attached without
// auto-release.
//
// Where it differs: a driver without an object does nothing when invoked (no call, no exception, the result left
// as it was) instead of failing an assertion. Results of type VT_BSTR are stored as a CString.
#pragma once

#include "platform/afx/OleException.h"

class COleDispatchDriver {
public:
    COleDispatchDriver() = default;
    explicit COleDispatchDriver(LPDISPATCH lpDispatch, BOOL bAutoRelease = TRUE);
    ~COleDispatchDriver();
    COleDispatchDriver(const COleDispatchDriver&) = delete;
    COleDispatchDriver& operator=(const COleDispatchDriver&) = delete;

    BOOL CreateDispatch(REFCLSID clsid, COleException* pError = nullptr);
    BOOL CreateDispatch(LPCTSTR lpszProgID, COleException* pError = nullptr);
    void AttachDispatch(LPDISPATCH lpDispatch, BOOL bAutoRelease = TRUE);
    LPDISPATCH DetachDispatch();
    void ReleaseDispatch();

    void InvokeHelper(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void* pvRet, const BYTE* pbParamInfo, ...);

    LPDISPATCH m_lpDispatch = nullptr;
    BOOL m_bAutoRelease = TRUE;
};
