// CJMicronDev: the JMicron bridge chips, through "JMUsbDll.dll": LEDs are bits of a data register, the button a
// bit of a pass-through query.
#pragma once

#include "enclosure/EnclosureDev.h"

#include "platform/usb/bridgechips.h"

class CJMicronDev : public CEnclosureDev {
public:
    static ENCLOSURE_DEV_CLASS classCJMicronDev;
    static CEnclosureDev* CreateObject();

    ~CJMicronDev() override;
    const ENCLOSURE_DEV_CLASS* GetClassEntry() const override { return &classCJMicronDev; }
    BOOL Init(int nOpenArg) override;
    void Close() override;
    BOOL Enumerate() override;
    BOOL SetSecureLed(BYTE letter, BOOL bOn) override { return SetLed(letter, 0x08, bOn); }
    BOOL SetReadyLed(BYTE letter, BOOL bOn) override { return SetLed(letter, 0x01, bOn); }
    BOOL SetBothLeds(BYTE letter, BOOL bOn) override { return SetLed(letter, 0x09, bOn); }
    BOOL ReadRegister(BYTE letter, WORD* pValue) override;
    BOOL WriteRegister(BYTE letter, WORD value) override;
    int IsValid() override { return m_nUsbIds == -1 ? 0 : m_nUsbIds; }
    BOOL IsButtonPressed() override;
    BOOL MatchHardwareId(LPCTSTR lpszId) const override;
    BOOL GetModelInfo(int nRow, CString& strName, WORD& wVendorId, WORD& wProductId, BYTE& byte) const override;

    // The chip type found for a drive (0 for a letter not in the drive list).
    int GetChipType(BYTE letter) const;

private:
    int IndexOf(BYTE letter) const;
    BOOL SetLed(BYTE letter, WORD bits, BOOL bOn);
    BOOL DetermineChipType(int index);
    BOOL WriteReg(BYTE letter, WORD reg, WORD value);
    BOOL ReadReg(BYTE letter, WORD reg, WORD* pValue);
    static WORD DataRegister(int type) { return type == 6 ? 0x7030 : 0x7058; }
    static WORD ControlRegister(int type) { return type == 6 ? 0x7032 : 0x7054; }

    HMODULE m_hLibrary = nullptr;
    int m_nOpenArg = 0;
    platform::usb::GetDriveListFn m_pfnGetDriveList = nullptr;
    platform::usb::GetUsbIdListFn m_pfnGetUsbIdList = nullptr;
    platform::usb::ATACBExecuteFn m_pfnATACBExecute = nullptr;
    platform::usb::ATACBExecuteExFn m_pfnATACBExecuteEx = nullptr;
    platform::usb::JMInquiryFn m_pfnJMInquiry = nullptr;
    platform::usb::JMGetChipInfoFn m_pfnJMGetChipInfo = nullptr;
    BYTE m_drives[26] = {};
    int m_nDrives = 0;
    int m_chipType[26] = {};
    WORD m_savedValue[26] = {};
    BYTE m_usbIds[32][platform::usb::kUsbIdEntrySize] = {};
    int m_nUsbIds = 0;
};
