#include "platform/afx/DataExchange.h"

#include "platform/afx/Dialog.h"
#include "platform/base/format.h"
#include "platform/base/module.h"
#include "platform/ui/controls.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

namespace {

CString ControlText(HWND hWnd) {
    const int length = ::GetWindowTextLengthW(hWnd);
    std::u16string text(static_cast<size_t>(length) + 1, u'\0');
    const int n = ::GetWindowTextW(hWnd, text.data(), length + 1);
    text.resize(static_cast<size_t>(n > 0 ? n : 0));
    return CString(text.c_str());
}

void SetControlText(HWND hWnd, const CString& value) {
    // Unchanged text is not set again, so the control sends no change notification for it.
    if (ControlText(hWnd) == value)
        return;
    ::SetWindowTextW(hWnd, value);
}

// Reads a whole decimal number with optional surrounding blanks.
bool ParseNumber(const CString& text, bool isSigned, long long& out) {
    std::string s;
    for (int i = 0; i < text.GetLength(); ++i) {
        const char16_t c = text[i];
        if (c > 0x7F)
            return false;
        s += static_cast<char>(c);
    }
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return false;
    const size_t last = s.find_last_not_of(" \t");
    s = s.substr(first, last - first + 1);
    if (s.empty() || (!isSigned && s[0] == '-'))
        return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno || !end || *end)
        return false;
    out = v;
    return true;
}

template <typename T>
void TextNumber(CDataExchange* pDX, int nIDC, T& value, bool isSigned, long long lo, long long hi) {
    HWND hWnd = pDX->PrepareEditCtrl(nIDC);
    if (pDX->m_bSaveAndValidate) {
        long long v = 0;
        if (!ParseNumber(ControlText(hWnd), isSigned, v) || v < lo || v > hi) {
            AfxMessageBox(isSigned ? u"Please enter an integer." : u"Please enter a positive integer.",
                          MB_OK | MB_ICONEXCLAMATION);
            pDX->Fail();
        }
        value = static_cast<T>(v);
    } else {
        CString text;
        if (isSigned)
            text.Format(u"%lld", static_cast<long long>(value));
        else
            text.Format(u"%llu", static_cast<unsigned long long>(value));
        SetControlText(hWnd, text);
    }
}

bool IsClass(HWND hWnd, const char16_t* name) {
    char16_t cls[32] = {};
    ::GetClassNameW(hWnd, cls, 32);
    std::u16string a(cls), b(name);
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'a' && x <= u'z')
            x = static_cast<char16_t>(x - 32);
        if (y >= u'a' && y <= u'z')
            y = static_cast<char16_t>(y - 32);
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value) {
    HWND hWnd = pDX->PrepareEditCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
        value = ControlText(hWnd);
    else
        SetControlText(hWnd, value);
}

void DDX_Text(CDataExchange* pDX, int nIDC, int& value) {
    TextNumber(pDX, nIDC, value, true, INT_MIN, INT_MAX);
}

void DDX_Text(CDataExchange* pDX, int nIDC, UINT& value) {
    TextNumber(pDX, nIDC, value, false, 0, UINT_MAX);
}

void DDX_Text(CDataExchange* pDX, int nIDC, long& value) {
    TextNumber(pDX, nIDC, value, true, INT_MIN, INT_MAX);
}

void DDX_Check(CDataExchange* pDX, int nIDC, int& value) {
    HWND hWnd = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
        value = static_cast<int>(::SendMessageW(hWnd, BM_GETCHECK, 0, 0));
    else
        ::SendMessageW(hWnd, BM_SETCHECK, static_cast<WPARAM>(value >= 0 && value <= 2 ? value : 0), 0);
}

void DDX_Radio(CDataExchange* pDX, int nIDC, int& value) {
    HWND hWnd = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
        value = -1;
    int index = 0;
    // The group: from the first button to the next control that starts a group.
    do {
        const LRESULT code = ::SendMessageW(hWnd, WM_GETDLGCODE, 0, 0);
        if (code & DLGC_RADIOBUTTON) {
            if (pDX->m_bSaveAndValidate) {
                if (::SendMessageW(hWnd, BM_GETCHECK, 0, 0) == BST_CHECKED)
                    value = index;
            } else {
                ::SendMessageW(hWnd, BM_SETCHECK, index == value ? BST_CHECKED : BST_UNCHECKED, 0);
            }
            ++index;
        }
        hWnd = ::GetWindow(hWnd, GW_HWNDNEXT);
    } while (hWnd && !(::GetWindowLongW(hWnd, GWL_STYLE) & WS_GROUP));
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (rControl.GetSafeHwnd())
        return;
    HWND hWnd = pDX->PrepareCtrl(nIDC);
    if (!rControl.SubclassWindow(hWnd)) {
        OutputDebugStringW(u"DDX_Control: the control could not be attached.\n");
        pDX->Fail();
    }
}

void DDX_CBIndex(CDataExchange* pDX, int nIDC, int& index) {
    HWND hWnd = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
        index = static_cast<int>(::SendMessageW(hWnd, CB_GETCURSEL, 0, 0));
    else
        ::SendMessageW(hWnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

namespace {
void ComboString(CDataExchange* pDX, int nIDC, CString& value, bool exact) {
    HWND hWnd = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate) {
        value = ControlText(hWnd);
        return;
    }
    const LRESULT found = ::SendMessageW(hWnd, exact ? CB_FINDSTRINGEXACT : CB_SELECTSTRING, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(static_cast<LPCTSTR>(value)));
    if (exact && found != CB_ERR)
        ::SendMessageW(hWnd, CB_SETCURSEL, static_cast<WPARAM>(found), 0);
    // An editable combo box shows a text that is not in its list.
    if (found == CB_ERR && (::GetWindowLongW(hWnd, GWL_STYLE) & 0x3) != CBS_DROPDOWNLIST)
        ::SetWindowTextW(hWnd, value);
}
} // namespace

void DDX_CBString(CDataExchange* pDX, int nIDC, CString& value) {
    ComboString(pDX, nIDC, value, false);
}

void DDX_CBStringExact(CDataExchange* pDX, int nIDC, CString& value) {
    ComboString(pDX, nIDC, value, true);
}

void DDX_LBIndex(CDataExchange* pDX, int nIDC, int& index) {
    HWND hWnd = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
        index = static_cast<int>(::SendMessageW(hWnd, LB_GETCURSEL, 0, 0));
    else
        ::SendMessageW(hWnd, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void DDX_LBString(CDataExchange* pDX, int nIDC, CString& value) {
    HWND hWnd = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate) {
        const LRESULT sel = ::SendMessageW(hWnd, LB_GETCURSEL, 0, 0);
        value.Empty();
        if (sel != LB_ERR) {
            const LRESULT length = ::SendMessageW(hWnd, LB_GETTEXTLEN, static_cast<WPARAM>(sel), 0);
            std::u16string text(static_cast<size_t>(length) + 1, u'\0');
            ::SendMessageW(hWnd, LB_GETTEXT, static_cast<WPARAM>(sel), reinterpret_cast<LPARAM>(text.data()));
            text.resize(static_cast<size_t>(length));
            value = text.c_str();
        }
    } else {
        const LRESULT found = ::SendMessageW(hWnd, LB_SELECTSTRING, static_cast<WPARAM>(-1),
                                             reinterpret_cast<LPARAM>(static_cast<LPCTSTR>(value)));
        if (found == LB_ERR)
            ::SendMessageW(hWnd, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    }
}

void DDV_MaxChars(CDataExchange* pDX, const CString& value, int nChars) {
    if (pDX->m_bSaveAndValidate) {
        if (value.GetLength() > nChars) {
            CString prompt;
            prompt.Format(u"Enter no more than %d characters.", nChars);
            AfxMessageBox(prompt, MB_OK | MB_ICONEXCLAMATION);
            pDX->Fail();
        }
    } else if (pDX->m_hWndLastControl) {
        if (IsClass(pDX->m_hWndLastControl, u"ComboBox"))
            ::SendMessageW(pDX->m_hWndLastControl, CB_LIMITTEXT, static_cast<WPARAM>(nChars), 0);
        else
            ::SendMessageW(pDX->m_hWndLastControl, EM_LIMITTEXT, static_cast<WPARAM>(nChars), 0);
    }
}

void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal) {
    if (!pDX->m_bSaveAndValidate || (value >= minVal && value <= maxVal))
        return;
    CString prompt;
    prompt.Format(u"Enter an integer between %d and %d.", minVal, maxVal);
    AfxMessageBox(prompt, MB_OK | MB_ICONEXCLAMATION);
    pDX->Fail();
}

void DDV_MinMaxUInt(CDataExchange* pDX, UINT value, UINT minVal, UINT maxVal) {
    if (!pDX->m_bSaveAndValidate || (value >= minVal && value <= maxVal))
        return;
    CString prompt;
    prompt.Format(u"Enter a positive integer between %u and %u.", minVal, maxVal);
    AfxMessageBox(prompt, MB_OK | MB_ICONEXCLAMATION);
    pDX->Fail();
}
