#include "storage/SecureSetting.h"

#include "app/BrannicApp.h"
#include "app/Utility.h"

#include "platform/afx/ComboBox.h"
#include "platform/base/codepage.h"
#include "platform/registry/registry.h"
#include "platform/system/sysinfo.h"

#include <cstring>
#include <string>

namespace {

// The key text when the Windows user name cannot be read.
constexpr const char16_t* kFallbackKey = u"Tarn4Vesk";
// The longest user name and converted text, in characters and bytes.
constexpr DWORD kNameChars = 260;
constexpr size_t kAnsiBytes = 260;
// What a stored password may take: "Password" is read into 520 bytes.
constexpr DWORD kPasswordBytes = 520;
constexpr DWORD kQuestionBytes = 260;
constexpr UINT kFirstQuestionId = 6000;
constexpr UINT kLastQuestionId = 6008;

// Converts wide text to the ANSI code page; false when a character has no byte there or the text would not fit.
bool ToAnsi(LPCTSTR lpszText, std::string& bytes) {
    const size_t needed = wcstombs(nullptr, lpszText, 0);
    if (needed == static_cast<size_t>(-1) || needed > kAnsiBytes)
        return false;
    bytes.assign(needed + 1, '\0');
    wcstombs(bytes.data(), lpszText, needed + 1);
    bytes.resize(needed);
    return true;
}

// The key text: the Windows user name in the ANSI code page, or the fixed text.
bool KeyText(std::string& key) {
    WCHAR name[kNameChars + 1] = {};
    DWORD size = kNameChars + 1;
    if (GetUserNameW(name, &size) && name[0] && ToAnsi(name, key))
        return true;
    return ToAnsi(kFallbackKey, key);
}

// Wipes a string that held a password.
void Burn(std::string& bytes) {
    std::memset(bytes.data(), 0, bytes.size());
    bytes.clear();
}

} // namespace

BOOL EncryptPassword(CString& strText) {
    std::string key;
    std::string plain;
    if (!KeyText(key) || !ToAnsi(strText, plain)) {
        Burn(plain);
        return FALSE;
    }
    std::string cipher(2 * kCipherWorkSize + 2, '\0');
    const BOOL bDone = EncryptString(plain.c_str(), cipher.data(), static_cast<DWORD>(cipher.size()), key.c_str());
    Burn(plain);
    if (!bDone)
        return FALSE;
    cipher.resize(std::strlen(cipher.c_str()));
    // One wide character per cipher byte, which the ANSI code page turns back into the same byte.
    if (cipher.size() >= kPasswordBytes / 2)
        return FALSE;
    strText = CString(platform::Windows1252ToUtf16(cipher).c_str());
    return TRUE;
}

BOOL DecryptPassword(CString& strText) {
    std::string key;
    std::string cipher;
    if (strText.IsEmpty() || !KeyText(key) || !platform::Utf16ToWindows1252(std::u16string_view(strText), cipher))
        return FALSE;
    std::string plain(kCipherWorkSize + 1, '\0');
    if (!DecryptString(cipher.data(), static_cast<DWORD>(cipher.size()), plain.data(), static_cast<DWORD>(plain.size()),
                       key.c_str())) {
        Burn(plain);
        return FALSE;
    }
    plain.resize(std::strlen(plain.c_str()));
    strText = CString(platform::Windows1252ToUtf16(plain).c_str());
    Burn(plain);
    return TRUE;
}

CString CSecureSetting::GetKeyPath() {
    CString strKey;
    CWinApp* pApp = AfxGetApp();
    if (pApp && pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)))
        static_cast<CBrannicApp*>(pApp)->GetRootKey(strKey);
    if (strKey.IsEmpty())
        strKey = u"Software\\VEVUVUV\\Kovra";
    if (strKey[strKey.GetLength() - 1] != u'\\')
        strKey += u'\\';
    return strKey + u"Expert\\Secure";
}

BOOL CSecureSetting::SetSecureSetting(BOOL bAutoMount, LPCTSTR lpszPassword) {
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, GetKeyPath(), 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr) !=
        ERROR_SUCCESS)
        return FALSE;
    const DWORD dwAutoMount = bAutoMount ? 1 : 0;
    BOOL bResult = RegSetValueExW(hKey, u"AutoMount", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwAutoMount),
                                  sizeof dwAutoMount) == ERROR_SUCCESS;
    if (!bAutoMount) {
        RegDeleteValueW(hKey, u"Password");
    } else if (lpszPassword && *lpszPassword) {
        CString strCipher(lpszPassword);
        if (EncryptPassword(strCipher)) {
            const DWORD cbData = static_cast<DWORD>((strCipher.GetLength() + 1) * sizeof(WCHAR));
            bResult = RegSetValueExW(hKey, u"Password", 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(static_cast<LPCTSTR>(strCipher)),
                                     cbData) == ERROR_SUCCESS &&
                      bResult;
        } else {
            bResult = FALSE;
        }
    }
    RegCloseKey(hKey);
    return bResult;
}

BOOL CSecureSetting::GetSecureSetting(CString* pPassword) {
    if (pPassword)
        pPassword->Empty();
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, GetKeyPath(), 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return FALSE;
    DWORD dwAutoMount = 0;
    DWORD dwType = 0;
    DWORD cbData = sizeof dwAutoMount;
    BOOL bResult = RegQueryValueExW(hKey, u"AutoMount", nullptr, &dwType, reinterpret_cast<BYTE*>(&dwAutoMount),
                                    &cbData) == ERROR_SUCCESS &&
                   dwAutoMount != 0;
    if (bResult && pPassword) {
        WCHAR buffer[kPasswordBytes / sizeof(WCHAR) + 1] = {};
        cbData = kPasswordBytes;
        CString strText;
        if (RegQueryValueExW(hKey, u"Password", nullptr, &dwType, reinterpret_cast<BYTE*>(buffer), &cbData) ==
                ERROR_SUCCESS &&
            dwType == REG_SZ) {
            strText = buffer;
            bResult = DecryptPassword(strText);
        } else {
            bResult = FALSE;
        }
        if (bResult)
            *pPassword = strText;
        std::memset(buffer, 0, sizeof buffer);
    }
    RegCloseKey(hKey);
    return bResult;
}

BOOL CSecureSetting::SetSecureQuestion(LPCTSTR lpszQuestion) {
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, GetKeyPath(), 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr) !=
        ERROR_SUCCESS)
        return FALSE;
    const CString strQuestion(lpszQuestion ? lpszQuestion : u"");
    const BOOL bResult =
        RegSetValueExW(hKey, u"Question", 0, REG_SZ, reinterpret_cast<const BYTE*>(static_cast<LPCTSTR>(strQuestion)),
                       static_cast<DWORD>((strQuestion.GetLength() + 1) * sizeof(WCHAR))) == ERROR_SUCCESS;
    RegCloseKey(hKey);
    return bResult;
}

void CSecureSetting::GetSecureQuestion(CString& strQuestion, CComboBox* pCombo) {
    strQuestion.Empty();
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, GetKeyPath(), 0, KEY_QUERY_VALUE, &hKey) == ERROR_SUCCESS) {
        WCHAR buffer[kQuestionBytes / sizeof(WCHAR) + 1] = {};
        DWORD cbData = kQuestionBytes;
        DWORD dwType = 0;
        if (RegQueryValueExW(hKey, u"Question", nullptr, &dwType, reinterpret_cast<BYTE*>(buffer), &cbData) ==
                ERROR_SUCCESS &&
            dwType == REG_SZ)
            strQuestion = buffer;
        RegCloseKey(hKey);
    }
    if (!pCombo)
        return;
    for (UINT nId = kFirstQuestionId; nId <= kLastQuestionId; ++nId) {
        CString strStock;
        if (!strStock.LoadString(nId) || strStock.IsEmpty())
            continue;
        const int nItem = pCombo->AddString(strStock);
        if (nItem >= 0)
            pCombo->SetItemData(nItem, nId);
    }
    if (strQuestion.IsEmpty())
        return;
    int nFound = -1;
    for (int i = 0; i < pCombo->GetCount() && nFound < 0; ++i) {
        CString strItem;
        pCombo->GetLBText(i, strItem);
        if (strItem == strQuestion)
            nFound = i;
    }
    if (nFound < 0)
        nFound = pCombo->AddString(strQuestion);
    pCombo->SetCurSel(nFound);
}
