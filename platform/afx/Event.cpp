#include "platform/afx/Event.h"

#include "platform/base/sync.h"

IMPLEMENT_DYNAMIC(CEvent, CSyncObject)

CEvent::CEvent(BOOL bInitiallyOwn, BOOL bManualReset, LPCTSTR lpszName, LPSECURITY_ATTRIBUTES lpsaAttribute)
    : CSyncObject(lpszName) {
    m_hObject = CreateEventW(lpsaAttribute, bManualReset, bInitiallyOwn, lpszName);
}

BOOL CEvent::SetEvent() {
    return ::SetEvent(m_hObject);
}
BOOL CEvent::PulseEvent() {
    return ::PulseEvent(m_hObject);
}
BOOL CEvent::ResetEvent() {
    return ::ResetEvent(m_hObject);
}
