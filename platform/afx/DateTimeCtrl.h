// CDateTimeCtrl: the framework's date-time picker class (a CWnd over "SysDateTimePick32" sending DTM_ messages).
#pragma once

#include "platform/afx/OleDateTime.h"
#include "platform/afx/Time.h"
#include "platform/afx/Wnd.h"
#include "platform/ui/commctrl.h"

class CDateTimeCtrl : public CWnd {
    DECLARE_DYNAMIC(CDateTimeCtrl)
public:
    CDateTimeCtrl() = default;
    ~CDateTimeCtrl() override;

    virtual BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);

    // GDT_VALID with the time written, GDT_NONE when the picker shows no date.
    DWORD GetTime(LPSYSTEMTIME pTimeDest) const {
        return static_cast<DWORD>(SendMessage(DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(pTimeDest)));
    }
    DWORD GetTime(CTime& timeDest) const;
    // TRUE with a valid time, or with a null one when the picker shows no date.
    BOOL GetTime(COleDateTime& timeDest) const;

    // A null record shows no date (DTS_SHOWNONE only).
    BOOL SetTime(const SYSTEMTIME* pTimeNew = nullptr) {
        return static_cast<BOOL>(
            SendMessage(DTM_SETSYSTEMTIME, pTimeNew ? GDT_VALID : GDT_NONE, reinterpret_cast<LPARAM>(pTimeNew)));
    }
    BOOL SetTime(const CTime* pTimeNew);
    BOOL SetTime(const COleDateTime& timeNew);

    BOOL SetFormat(LPCTSTR pstrFormat) {
        return static_cast<BOOL>(SendMessage(DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(pstrFormat)));
    }
    // Limits given as null pointers are lifted.
    BOOL SetRange(const CTime* pMinRange, const CTime* pMaxRange);
    DWORD GetRange(CTime* pMinRange, CTime* pMaxRange) const;
};
