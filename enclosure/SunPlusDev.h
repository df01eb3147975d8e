// CSunPlusDev: the Sunplus bridge chips, through "sp216.dll": LEDs and button are general-purpose pins of one
// device.
#pragma once

#include "enclosure/EnclosureDev.h"

#include "platform/usb/bridgechips.h"

class CSunPlusDev : public CEnclosureDev {
public:
    static ENCLOSURE_DEV_CLASS classCSunPlusDev;
    static CEnclosureDev* CreateObject();

    ~CSunPlusDev() override;
    const ENCLOSURE_DEV_CLASS* GetClassEntry() const override { return &classCSunPlusDev; }
    BOOL Init(int nOpenArg) override;
    void Close() override;
    BOOL Enumerate() override;
    BOOL SetSecureLed(BYTE letter, BOOL bOn) override;
    BOOL SetReadyLed(BYTE letter, BOOL bOn) override;
    BOOL SetBothLeds(BYTE letter, BOOL bOn) override;
    BOOL ReadRegister(BYTE letter, WORD* pValue) override;
    BOOL WriteRegister(BYTE letter, WORD value) override;
    int IsValid() override { return TRUE; }
    BOOL IsButtonPressed() override;
    BOOL MatchHardwareId(LPCTSTR lpszId) const override;
    BOOL GetModelInfo(int nRow, CString& strName, WORD& wVendorId, WORD& wProductId, BYTE& byte) const override;

private:
    BOOL WritePin(BYTE pin, BYTE value);
    BOOL ReadPin(BYTE pin, BYTE* pValue);

    HMODULE m_hLibrary = nullptr;
    intptr_t m_hDevice = -1;
    int m_nOpenArg = 0;
    platform::usb::EnumDeviceHandleFn m_pfnEnumDeviceHandle = nullptr;
    platform::usb::SetGetGpioIndexFn m_pfnSetGetGpio = nullptr;
    platform::usb::CloseDeviceFn m_pfnCloseDevice = nullptr;
};
