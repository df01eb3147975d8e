#include "workflows/PageSettings.h"

#include "app/BrannicApp.h"

#include "platform/base/handle.h"
#include "platform/registry/registry.h"

#include <algorithm>
#include <vector>

CPageSettings::CPageSettings(LPCTSTR lpszSubKey) {
    CWinApp* pApp = AfxGetApp();
    if (pApp && pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)))
        static_cast<CBrannicApp*>(pApp)->GetRootKey(m_strKey);
    if (!m_strKey.IsEmpty() && m_strKey[m_strKey.GetLength() - 1] != _T('\\'))
        m_strKey += _T('\\');
    m_strKey += lpszSubKey;
}

BOOL CPageSettings::Exists() const {
    platform::OwnedKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, m_strKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

BOOL CPageSettings::ReadString(LPCTSTR lpszName, CString& strValue, DWORD nMaxBytes) const {
    platform::OwnedKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, m_strKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return FALSE;
    std::vector<WCHAR> buffer(nMaxBytes / sizeof(WCHAR) + 1, 0);
    DWORD dwType = 0;
    DWORD dwSize = nMaxBytes;
    if (RegQueryValueExW(key.get(), lpszName, nullptr, &dwType, reinterpret_cast<BYTE*>(buffer.data()), &dwSize) !=
            ERROR_SUCCESS ||
        dwType != REG_SZ)
        return FALSE;
    buffer[std::min<size_t>(dwSize / sizeof(WCHAR), buffer.size() - 1)] = 0;
    strValue = buffer.data();
    return TRUE;
}

BOOL CPageSettings::ReadDword(LPCTSTR lpszName, DWORD& dwValue) const {
    platform::OwnedKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, m_strKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return FALSE;
    DWORD dwType = 0;
    DWORD dwRead = 0;
    DWORD dwSize = sizeof dwRead;
    if (RegQueryValueExW(key.get(), lpszName, nullptr, &dwType, reinterpret_cast<BYTE*>(&dwRead), &dwSize) !=
            ERROR_SUCCESS ||
        dwType != REG_DWORD)
        return FALSE;
    dwValue = dwRead;
    return TRUE;
}

BOOL CPageSettings::WriteString(LPCTSTR lpszName, const CString& strValue) const {
    platform::OwnedKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, m_strKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        return FALSE;
    return RegSetValueExW(key.get(), lpszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(strValue.GetString()),
                          static_cast<DWORD>((strValue.GetLength() + 1) * sizeof(WCHAR))) == ERROR_SUCCESS;
}

BOOL CPageSettings::WriteDword(LPCTSTR lpszName, DWORD dwValue) const {
    platform::OwnedKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, m_strKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        return FALSE;
    return RegSetValueExW(key.get(), lpszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue),
                          sizeof dwValue) == ERROR_SUCCESS;
}

BOOL CPageSettings::DeleteValue(LPCTSTR lpszName) const {
    platform::OwnedKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, m_strKey, 0, KEY_WRITE, key.put()) != ERROR_SUCCESS)
        return FALSE;
    const LONG result = RegDeleteValueW(key.get(), lpszName);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

BOOL CPageSettings::RemoveKey() const {
    return RegDeleteKeyW(HKEY_CURRENT_USER, m_strKey) == ERROR_SUCCESS;
}
