#include "platform/afx/TimeSpan.h"

#include "platform/base/format.h"

CString CTimeSpan::Format(LPCTSTR pFormat) const {
    std::u16string out;
    for (LPCTSTR p = pFormat; p && *p; ++p) {
        if (*p != u'%' || !p[1]) {
            out += *p;
            continue;
        }
        ++p;
        switch (*p) {
        case u'D':
            out += platform::Format(u"%I64d", static_cast<long long>(GetDays()));
            break;
        case u'H':
            out += platform::Format(u"%02d", GetHours());
            break;
        case u'M':
            out += platform::Format(u"%02d", GetMinutes());
            break;
        case u'S':
            out += platform::Format(u"%02d", GetSeconds());
            break;
        case u'%':
            out += u'%';
            break;
        default:
            out += u'%';
            out += *p;
            break;
        }
    }
    return CString(std::u16string_view(out));
}
