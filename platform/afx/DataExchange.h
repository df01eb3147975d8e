// Dialog data exchange: CDataExchange and the DDX_ (exchange) and DDV_ (validation) functions.
//
// Stands in for the framework's data exchange. The same as the framework: UpdateData runs DoDataExchange with a
// CDataExchange; each DDX_ call moves one member to its control (m_bSaveAndValidate FALSE) or back; a value that
// cannot be read or a DDV_ check that fails shows a message box, puts the focus on the control and makes UpdateData
// return FALSE (the members read so far keep their new values).
//
// Where it differs: the failure travels as a private exception that UpdateData always catches; it never leaves
// UpdateData.
#pragma once

#include "platform/afx/String.h"
#include "platform/afx/Wnd.h"

class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate);

    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;

    // The control of the id (remembered for Fail); a missing control is a programming error and fails.
    HWND PrepareCtrl(int nIDC);
    HWND PrepareEditCtrl(int nIDC);
    // Puts the focus on the last prepared control and ends the exchange.
    [[noreturn]] void Fail();

    HWND m_hWndLastControl = nullptr;
    BOOL m_bEditLastControl = FALSE;
};

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);
void DDX_Text(CDataExchange* pDX, int nIDC, int& value);
void DDX_Text(CDataExchange* pDX, int nIDC, UINT& value); // also DWORD
void DDX_Text(CDataExchange* pDX, int nIDC, long& value);
// Check boxes: 0, 1 or 2 (indeterminate).
void DDX_Check(CDataExchange* pDX, int nIDC, int& value);
// The index of the checked radio button of the group that starts at nIDC (-1: none).
void DDX_Radio(CDataExchange* pDX, int nIDC, int& value);
// Attaches the control to the CWnd (once).
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
void DDX_CBIndex(CDataExchange* pDX, int nIDC, int& index);
void DDX_CBString(CDataExchange* pDX, int nIDC, CString& value);
void DDX_CBStringExact(CDataExchange* pDX, int nIDC, CString& value);
void DDX_LBIndex(CDataExchange* pDX, int nIDC, int& index);
void DDX_LBString(CDataExchange* pDX, int nIDC, CString& value);

// On load it limits the edit control to nChars; on save it fails when the text is longer.
void DDV_MaxChars(CDataExchange* pDX, const CString& value, int nChars);
void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal);
void DDV_MinMaxUInt(CDataExchange* pDX, UINT value, UINT minVal, UINT maxVal);
