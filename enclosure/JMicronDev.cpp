#include "enclosure/JMicronDev.h"

#include "platform/base/module.h"
#include "platform/base/clock.h"
#include "platform/base/sync.h"

#include <cstring>
#include <iterator>

ENCLOSURE_DEV_CLASS CJMicronDev::classCJMicronDev = {"CJMicronDev", nullptr, &CJMicronDev::CreateObject};
static const ENCLOSURE_DEV_CLASS_INIT s_initJMicron(&CJMicronDev::classCJMicronDev);

namespace {

constexpr const char16_t* kHardwareIds[] = {u"USB\\VID_152D&PID_2338", u"USB\\VID_6A5E&PID_0001"};

struct Model {
    const char16_t* name;
    WORD vendor;
    WORD product;
    BYTE byte;
};
constexpr Model kModels[] = {{u"Kovra-A2", 0x152D, 0x2338, 0x7C}, {u"Kovra-B3", 0x6A5E, 0x0001, 0x4F}};

constexpr int kTries = 6;

// The pass-through record: register write, register read or button query.
void MakeRecord(BYTE* record, BYTE kind, WORD reg) {
    std::memset(record, 0, platform::usb::kAtacbRecordSize);
    const DWORD direction = kind == 0xFE ? 0 : 1;
    const DWORD two = 2;
    std::memcpy(record, &direction, 4);
    std::memcpy(record + 4, &two, 4);
    if (kind != 0xFF) {
        const WORD high = static_cast<WORD>(reg >> 8);
        const WORD low = static_cast<WORD>(reg & 0xFF);
        std::memcpy(record + 10, &high, 2);
        std::memcpy(record + 12, &low, 2);
    }
    record[19] = kind;
}

} // namespace

CEnclosureDev* CJMicronDev::CreateObject() {
    return new CJMicronDev;
}

CJMicronDev::~CJMicronDev() {
    Close();
}

BOOL CJMicronDev::Init(int nOpenArg) {
    m_hLibrary = GetModuleHandleW(u"JMUsbDll");
    if (!m_hLibrary)
        m_hLibrary = LoadLibraryW(u"JMUsbDll.dll");
    if (!m_hLibrary)
        return FALSE;
    m_pfnGetDriveList = reinterpret_cast<platform::usb::GetDriveListFn>(GetProcAddress(m_hLibrary, "GetDriveList"));
    m_pfnGetUsbIdList = reinterpret_cast<platform::usb::GetUsbIdListFn>(GetProcAddress(m_hLibrary, "GetUsbIdList"));
    m_pfnATACBExecute = reinterpret_cast<platform::usb::ATACBExecuteFn>(GetProcAddress(m_hLibrary, "ATACBExecute"));
    m_pfnATACBExecuteEx =
        reinterpret_cast<platform::usb::ATACBExecuteExFn>(GetProcAddress(m_hLibrary, "ATACBExecuteEx"));
    m_pfnJMInquiry = reinterpret_cast<platform::usb::JMInquiryFn>(GetProcAddress(m_hLibrary, "JMInquiry"));
    m_pfnJMGetChipInfo = reinterpret_cast<platform::usb::JMGetChipInfoFn>(GetProcAddress(m_hLibrary, "JMGetChipInfo"));
    m_nOpenArg = nOpenArg;
    Enumerate();
    return TRUE;
}

void CJMicronDev::Close() {
    if (m_hLibrary)
        FreeLibrary(m_hLibrary);
    m_hLibrary = nullptr;
    m_pfnGetDriveList = nullptr;
    m_pfnGetUsbIdList = nullptr;
    m_pfnATACBExecute = nullptr;
    m_pfnATACBExecuteEx = nullptr;
    m_pfnJMInquiry = nullptr;
    m_pfnJMGetChipInfo = nullptr;
    m_nDrives = 0;
}

int CJMicronDev::IndexOf(BYTE letter) const {
    for (int i = 0; i < m_nDrives; ++i)
        if (m_drives[i] == letter)
            return i;
    return -1;
}

int CJMicronDev::GetChipType(BYTE letter) const {
    const int i = IndexOf(letter);
    return i < 0 ? 0 : m_chipType[i];
}

BOOL CJMicronDev::WriteReg(BYTE letter, WORD reg, WORD value) {
    if (!m_pfnATACBExecute)
        return FALSE;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        if (attempt)
            Sleep(1000);
        BYTE record[platform::usb::kAtacbRecordSize];
        MakeRecord(record, 0xFE, reg);
        BYTE data[2] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8)};
        if (m_pfnATACBExecute(letter, record, data, 2, 0) == 0)
            return TRUE;
    }
    return FALSE;
}

BOOL CJMicronDev::ReadReg(BYTE letter, WORD reg, WORD* pValue) {
    if (!m_pfnATACBExecute || !pValue)
        return FALSE;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        if (attempt)
            Sleep(100);
        BYTE record[platform::usb::kAtacbRecordSize];
        MakeRecord(record, 0xFD, reg);
        BYTE data[2] = {};
        if (m_pfnATACBExecute(letter, record, data, 2, 0) == 0) {
            *pValue = static_cast<WORD>(data[0] | data[1] << 8);
            return TRUE;
        }
    }
    return FALSE;
}

BOOL CJMicronDev::DetermineChipType(int index) {
    const BYTE letter = m_drives[index];
    m_chipType[index] = 6;
    if (!m_pfnJMInquiry)
        return FALSE;
    BYTE inquiry[40] = {};
    bool answered = false;
    for (int attempt = 0; attempt < kTries && !answered; ++attempt) {
        if (attempt)
            Sleep(100);
        answered = m_pfnJMInquiry(letter, inquiry, 40) == 0;
    }
    if (!answered)
        return FALSE;
    if (!std::memcmp(inquiry, "j335", 4)) {
        m_chipType[index] = 1;
        return TRUE;
    }
    if (!std::memcmp(inquiry, "j336", 4)) {
        m_chipType[index] = 2;
        return TRUE;
    }
    WORD value = 0;
    if (ReadReg(letter, DataRegister(6), &value))
        m_chipType[index] = value == 0xD204 ? 7 : 6;
    return TRUE;
}

BOOL CJMicronDev::Enumerate() {
    if (!m_pfnGetDriveList || !m_pfnGetUsbIdList)
        return FALSE;
    std::memset(m_usbIds, 0, sizeof m_usbIds);
    m_nUsbIds = m_pfnGetUsbIdList(&m_usbIds[0][0], 32);
    std::memset(m_drives, 0, sizeof m_drives);
    m_nDrives = m_pfnGetDriveList(m_drives, 26);
    if (m_nUsbIds == -1 && m_nDrives != -1)
        m_nUsbIds = m_pfnGetUsbIdList(&m_usbIds[0][0], 32);
    else if (m_nDrives < m_nUsbIds)
        m_nDrives = m_pfnGetDriveList(m_drives, 26);
    // The library's counts are not trusted beyond the lists' room.
    if (m_nDrives < 0)
        m_nDrives = 0;
    if (m_nDrives > 26)
        m_nDrives = 26;
    if (m_nUsbIds > 32)
        m_nUsbIds = 32;
    for (int i = 0; i < m_nDrives; ++i) {
        DetermineChipType(i);
        const int type = m_chipType[i];
        WriteReg(m_drives[i], ControlRegister(type), type == 6 ? 0x00 : 0xFF);
        WORD value = 0;
        if (ReadReg(m_drives[i], DataRegister(type), &value))
            m_savedValue[i] = value;
        WriteReg(m_drives[i], ControlRegister(type), type == 6 ? 0x09 : 0x04);
        if (m_nOpenArg)
            SetReadyLed(m_drives[i], TRUE);
    }
    return m_nDrives;
}

BOOL CJMicronDev::SetLed(BYTE letter, WORD bits, BOOL bOn) {
    if (m_nDrives == 0)
        Enumerate();
    if (m_nDrives == 0)
        return FALSE;
    auto one = [&](BYTE drive) -> BOOL {
        // A letter this chip does not serve gets nothing written.
        if (IndexOf(drive) < 0)
            return FALSE;
        const int type = GetChipType(drive);
        if (type == 2 || type == 7)
            return TRUE;
        if (type == 6)
            return WriteReg(drive, DataRegister(type), bOn ? bits : static_cast<WORD>(~bits));
        return WriteReg(drive, DataRegister(type), bOn ? static_cast<WORD>(~bits | 0x80) : static_cast<WORD>(bits | 0x80));
    };
    if (letter != ENCLOSURE_ALL_LETTERS)
        return one(letter);
    BOOL result = FALSE;
    for (int i = 0; i < m_nDrives; ++i)
        result = one(m_drives[i]);
    return result;
}

BOOL CJMicronDev::ReadRegister(BYTE letter, WORD* pValue) {
    return ReadReg(letter, DataRegister(GetChipType(letter)), pValue);
}

BOOL CJMicronDev::WriteRegister(BYTE letter, WORD value) {
    return WriteReg(letter, DataRegister(GetChipType(letter)), value);
}

BOOL CJMicronDev::IsButtonPressed() {
    if (!m_pfnATACBExecute)
        return FALSE;
    BOOL pressed = FALSE;
    for (int i = 0; i < m_nDrives; ++i) {
        BYTE record[platform::usb::kAtacbRecordSize];
        MakeRecord(record, 0xFF, 0);
        BYTE data[2] = {};
        if (m_pfnATACBExecute(m_drives[i], record, data, 2, 0) != 0)
            continue;
        const WORD value = static_cast<WORD>(data[0] | data[1] << 8);
        if (!(record[8] & 0x04) && !(m_savedValue[i] & 0x04) && (value & 0x04))
            pressed = TRUE;
    }
    return pressed;
}

BOOL CJMicronDev::MatchHardwareId(LPCTSTR lpszId) const {
    if (!lpszId || !*lpszId)
        return FALSE;
    for (const char16_t* id : kHardwareIds)
        if (CString(lpszId).CompareNoCase(id) == 0)
            return TRUE;
    return FALSE;
}

BOOL CJMicronDev::GetModelInfo(int nRow, CString& strName, WORD& wVendorId, WORD& wProductId, BYTE& byte) const {
    if (nRow < 0 || nRow >= static_cast<int>(std::size(kModels)))
        return FALSE;
    strName = kModels[nRow].name;
    wVendorId = kModels[nRow].vendor;
    wProductId = kModels[nRow].product;
    byte = kModels[nRow].byte;
    return TRUE;
}
