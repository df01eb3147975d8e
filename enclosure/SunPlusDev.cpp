#include "enclosure/SunPlusDev.h"

#include "platform/base/module.h"

#include <cstring>
#include <iterator>

ENCLOSURE_DEV_CLASS CSunPlusDev::classCSunPlusDev = {"CSunPlusDev", nullptr, &CSunPlusDev::CreateObject};
static const ENCLOSURE_DEV_CLASS_INIT s_initSunPlus(&CSunPlusDev::classCSunPlusDev);

namespace {

constexpr const char16_t* kHardwareIds[] = {u"USB\\VID_6A5E&PID_0002", u"USB\\VID_6A5E&PID_0003"};
constexpr const char* kProducts[] = {"0002", "0003"};

struct Model {
    const char16_t* name;
    WORD vendor;
    WORD product;
    BYTE byte;
};
constexpr Model kModels[] = {{u"Kovra-C3", 0x6A5E, 0x0002, 0x4F}, {u"Kovra-C2", 0x6A5E, 0x0003, 0x7C}};

} // namespace

CEnclosureDev* CSunPlusDev::CreateObject() {
    return new CSunPlusDev;
}

CSunPlusDev::~CSunPlusDev() {
    Close();
}

BOOL CSunPlusDev::Init(int nOpenArg) {
    m_hLibrary = GetModuleHandleW(u"sp216.dll");
    if (!m_hLibrary)
        m_hLibrary = LoadLibraryW(u"sp216.dll");
    if (!m_hLibrary)
        return FALSE;
    m_pfnEnumDeviceHandle =
        reinterpret_cast<platform::usb::EnumDeviceHandleFn>(GetProcAddress(m_hLibrary, "EnumDeviceHandle"));
    m_pfnSetGetGpio = reinterpret_cast<platform::usb::SetGetGpioIndexFn>(GetProcAddress(m_hLibrary, "Set_Get_GPIO_Index"));
    m_pfnCloseDevice = reinterpret_cast<platform::usb::CloseDeviceFn>(GetProcAddress(m_hLibrary, "CloseDevice"));
    m_nOpenArg = nOpenArg;
    Enumerate();
    return TRUE;
}

void CSunPlusDev::Close() {
    // Only a device that was opened is closed.
    if (m_hDevice != 0 && m_hDevice != -1 && m_pfnCloseDevice) {
        m_pfnCloseDevice();
        m_hDevice = 0;
    }
    if (m_hLibrary)
        FreeLibrary(m_hLibrary);
    m_hLibrary = nullptr;
    m_pfnEnumDeviceHandle = nullptr;
    m_pfnSetGetGpio = nullptr;
    m_pfnCloseDevice = nullptr;
}

BOOL CSunPlusDev::Enumerate() {
    if (!m_pfnEnumDeviceHandle)
        return FALSE;
    for (const char* product : kProducts) {
        BYTE record[platform::usb::kSunplusRecordSize] = {};
        std::memcpy(record, "6A5E", 4);
        std::memcpy(record + 12, product, 4);
        const intptr_t handle = m_pfnEnumDeviceHandle(record, 1, 0);
        if (handle != -1) {
            m_hDevice = handle;
            if (m_nOpenArg)
                WritePin(2, 1);
            return TRUE;
        }
    }
    m_hDevice = -1;
    return FALSE;
}

BOOL CSunPlusDev::WritePin(BYTE pin, BYTE value) {
    if (!m_pfnSetGetGpio || m_hDevice == -1)
        return FALSE;
    return m_pfnSetGetGpio(pin, 1, &value, m_hDevice) != 0;
}

BOOL CSunPlusDev::ReadPin(BYTE pin, BYTE* pValue) {
    if (!m_pfnSetGetGpio || m_hDevice == -1)
        return FALSE;
    return m_pfnSetGetGpio(pin, 0, pValue, m_hDevice) != 0;
}

BOOL CSunPlusDev::SetSecureLed(BYTE, BOOL bOn) {
    return WritePin(1, bOn ? 1 : 0);
}

BOOL CSunPlusDev::SetReadyLed(BYTE, BOOL bOn) {
    return WritePin(2, bOn ? 1 : 0);
}

BOOL CSunPlusDev::SetBothLeds(BYTE, BOOL bOn) {
    if (bOn)
        return WritePin(2, 1) && WritePin(1, 1);
    return WritePin(1, 0) && WritePin(2, 0);
}

BOOL CSunPlusDev::ReadRegister(BYTE, WORD* pValue) {
    BYTE value = 0;
    if (!pValue || !ReadPin(0, &value))
        return FALSE;
    *pValue = value;
    return TRUE;
}

BOOL CSunPlusDev::WriteRegister(BYTE, WORD value) {
    return WritePin(1, static_cast<BYTE>(value));
}

BOOL CSunPlusDev::IsButtonPressed() {
    BYTE value = 0;
    return ReadPin(0, &value) && value == 1;
}

BOOL CSunPlusDev::MatchHardwareId(LPCTSTR lpszId) const {
    if (!lpszId || !*lpszId)
        return FALSE;
    for (const char16_t* id : kHardwareIds)
        if (CString(lpszId).CompareNoCase(id) == 0)
            return TRUE;
    return FALSE;
}

BOOL CSunPlusDev::GetModelInfo(int nRow, CString& strName, WORD& wVendorId, WORD& wProductId, BYTE& byte) const {
    if (nRow < 0 || nRow >= static_cast<int>(std::size(kModels)))
        return FALSE;
    strName = kModels[nRow].name;
    wVendorId = kModels[nRow].vendor;
    wProductId = kModels[nRow].product;
    byte = kModels[nRow].byte;
    return TRUE;
}
