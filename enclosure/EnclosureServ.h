// CEnclosureServ: the automation object "Enclosure.Application", through which the main program switches the
// enclosure's LEDs. Each call only queues a command for the device manager thread and answers 0.
#pragma once

#include "platform/afx/afx.h"

class CEnclosureDlg;

class CEnclosureServ : public CCmdTarget {
    DECLARE_DYNCREATE(CEnclosureServ)
    DECLARE_OLECREATE(CEnclosureServ)
public:
    CEnclosureServ();
    ~CEnclosureServ() override;

    long TurnOnSecureLed(long nDrive, short bOn);
    long TurnOnReadyLed(long nDrive, short bOn);
    long IsEffectiveLogicalDrive(long nDrive);
    long RegisterNotify(long lValue1, long lValue2);
    long IsEffectivePhysicalDrive(long nDrive);

    // The letter byte of a drive index: 0 means every letter.
    static BYTE LetterOfIndex(long nDrive);

private:
    void QueueCommand(long nDrive, int nCode);

    CEnclosureDlg* m_pDlg = nullptr;

    DECLARE_DISPATCH_MAP()
};
