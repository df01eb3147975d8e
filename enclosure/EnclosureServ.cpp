#include "enclosure/EnclosureServ.h"

#include "enclosure/EnclosureDlg.h"

IMPLEMENT_DYNCREATE(CEnclosureServ, CCmdTarget)
IMPLEMENT_OLECREATE(CEnclosureServ, "Enclosure.Application", 0xF50B40AA, 0xB60B, 0x478D, 0xBA, 0xC4, 0xA3, 0x69, 0x95,
                    0x90, 0x47, 0xA8)

BEGIN_DISPATCH_MAP(CEnclosureServ, CCmdTarget)
    DISP_FUNCTION_ID(CEnclosureServ, "TurnOnSecureLed", 1, TurnOnSecureLed, VT_I4, VTS_I4 VTS_I2)
    DISP_FUNCTION_ID(CEnclosureServ, "TurnOnReadyLed", 2, TurnOnReadyLed, VT_I4, VTS_I4 VTS_I2)
    DISP_FUNCTION_ID(CEnclosureServ, "IsEffectiveLogicalDrive", 3, IsEffectiveLogicalDrive, VT_I4, VTS_I4)
    DISP_FUNCTION_ID(CEnclosureServ, "RegisterNotify", 4, RegisterNotify, VT_I4, VTS_I4 VTS_I4)
    DISP_FUNCTION_ID(CEnclosureServ, "IsEffectivePhysicalDrive", 5, IsEffectivePhysicalDrive, VT_I4, VTS_I4)
END_DISPATCH_MAP()

CEnclosureServ::CEnclosureServ() {
    EnableAutomation();
    // While the main dialog records an object, its Exit only hides it, which keeps this server alive for clients.
    m_pDlg = dynamic_cast<CEnclosureDlg*>(AfxGetMainWnd());
    if (m_pDlg)
        m_pDlg->SetServ(this);
}

CEnclosureServ::~CEnclosureServ() {
    if (m_pDlg)
        m_pDlg->ReleaseServ(this);
}

BYTE CEnclosureServ::LetterOfIndex(long nDrive) {
    if (nDrive == 0)
        return ENCLOSURE_ALL_LETTERS;
    // An index outside the letters names no letter (not one that wraps round to "every letter"): the command is
    // queued and reported, and does nothing.
    if (nDrive < 0 || nDrive > 25)
        return 0;
    return static_cast<BYTE>('A' + nDrive);
}

void CEnclosureServ::QueueCommand(long nDrive, int nCode) {
    if (m_pDlg)
        m_pDlg->GetDevManager().Queue(LetterOfIndex(nDrive), nCode, m_pDlg->GetSafeHwnd(), nCode);
}

long CEnclosureServ::TurnOnSecureLed(long nDrive, short bOn) {
    QueueCommand(nDrive, bOn ? ENCLOSURE_CMD_SECURE_ON : ENCLOSURE_CMD_SECURE_OFF);
    return 0;
}

long CEnclosureServ::TurnOnReadyLed(long nDrive, short bOn) {
    QueueCommand(nDrive, bOn ? ENCLOSURE_CMD_READY_ON : ENCLOSURE_CMD_READY_OFF);
    return 0;
}

long CEnclosureServ::IsEffectiveLogicalDrive(long) {
    return 0;
}

long CEnclosureServ::RegisterNotify(long lValue1, long lValue2) {
    if (m_pDlg)
        m_pDlg->SetNotifyValues(lValue1, lValue2);
    return 0;
}

long CEnclosureServ::IsEffectivePhysicalDrive(long) {
    return 0;
}
