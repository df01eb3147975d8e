#include "engine/MyReg.h"

#include "engine/RegText.h"
#include "platform/base/errors.h"

#include <algorithm>
#include <new>

namespace {

// Opens a subtree that has a name in the export text; null, with the last error set, when it has none or cannot
// be opened.
HKEY OpenNamedSubtree(HKEY hRoot, LPCTSTR lpszSubKey, const CString& name) {
    if (name.IsEmpty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HKEY hKey = nullptr;
    if (const LONG error = RegOpenKeyExW(hRoot, lpszSubKey, 0, KEY_ALL_ACCESS, &hKey)) {
        SetLastError(static_cast<DWORD>(error));
        return nullptr;
    }
    return hKey;
}

template <class T> bool Allocate(std::vector<T>& buffer, size_t count) {
    try {
        buffer.resize(std::max<size_t>(count, 1));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

struct TypeEntry {
    DWORD dwType;
    const char16_t* name;
};

// The type names a value line may carry, in the order they are looked up.
const TypeEntry kTypeNames[] = {
    {REG_BINARY, u"REG_BINARY"},
    {REG_DWORD, u"REG_DWORD"},
    {REG_SZ, u"REG_SZ"},
    {REG_EXPAND_SZ, u"REG_EXPAND_SZ"},
    {REG_MULTI_SZ, u"REG_MULTI_SZ"},
    {REG_QWORD, u"REG_QWORD"},
    {REG_RESOURCE_LIST, u"REG_RESOURCE_LIST"},
    {REG_RESOURCE_REQUIREMENTS_LIST, u"REG_RESOURCE_REQUIREMENTS_LIST"},
};

const char16_t kHexDigits[] = u"0123456789abcdef";

void AppendHexByte(std::u16string& text, BYTE b) {
    text += kHexDigits[b >> 4];
    text += kHexDigits[b & 0xF];
}

// The data as UTF-16 code units; an odd last byte is not part of any.
std::u16string Units(const BYTE* pData, DWORD cbData) {
    std::u16string units(cbData / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(pData[2 * i] | (pData[2 * i + 1] << 8));
    return units;
}

void AppendUnit(std::vector<BYTE>& data, char16_t ch) {
    data.push_back(static_cast<BYTE>(ch & 0xFF));
    data.push_back(static_cast<BYTE>(ch >> 8));
}

// A character of a text, or '0' past its end.
TCHAR At(const std::u16string& text, size_t i) {
    return i < text.size() ? text[i] : u'0';
}

} // namespace

MyRegKeyItem::~MyRegKeyItem() {
    if (hKey)
        RegCloseKey(hKey);
}

MyReg::MyReg() = default;

MyReg::~MyReg() = default;

// ---- Conversions -------------------------------------------------------------------------------------------

CString MyReg::TypeName(DWORD dwType) {
    switch (dwType) {
    case REG_NONE:
    case REG_SZ:
    case REG_LINK:
        return _T("REG_SZ");
    case REG_EXPAND_SZ:
        return _T("REG_EXPAND_SZ");
    case REG_BINARY:
        return _T("REG_BINARY");
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
        return _T("REG_DWORD");
    case REG_MULTI_SZ:
        return _T("REG_MULTI_SZ");
    case REG_RESOURCE_LIST:
        return _T("REG_RESOURCE_LIST");
    case REG_RESOURCE_REQUIREMENTS_LIST:
        return _T("REG_RESOURCE_REQUIREMENTS_LIST");
    case REG_QWORD:
        return _T("REG_QWORD");
    default:
        return _T("");
    }
}

DWORD MyReg::TypeFromName(LPCTSTR lpszTypeName) {
    const CString name = lpszTypeName ? lpszTypeName : _T("");
    DWORD dwType = 0;
    if (regtext::ParseHexTypeName(name, dwType))
        return dwType;
    for (const TypeEntry& entry : kTypeNames) {
        if (name.CompareNoCase(entry.name) == 0)
            return entry.dwType;
    }
    return REG_SZ;
}

BYTE MyReg::HexByte(TCHAR chHigh, TCHAR chLow) {
    const int high = regtext::HexDigit(chHigh);
    const int low = regtext::HexDigit(chLow);
    return static_cast<BYTE>((high < 0 ? 0 : high) << 4 | (low < 0 ? 0 : low));
}

void MyReg::ValueToText(DWORD dwType, const BYTE* pData, DWORD cbData, CString& strText) {
    std::u16string text;
    BYTE b[8] = {};
    std::copy(pData, pData + std::min<DWORD>(cbData, 8), b);
    switch (dwType) {
    case REG_BINARY:
    case REG_RESOURCE_LIST:
    case REG_RESOURCE_REQUIREMENTS_LIST:
        text.reserve(static_cast<size_t>(cbData) * 3);
        for (DWORD i = 0; i < cbData; ++i) {
            AppendHexByte(text, pData[i]);
            text += u' ';
        }
        break;
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: {
        // The bytes from the most significant on, then the number.
        const bool big = dwType == REG_DWORD_BIG_ENDIAN;
        const BYTE order[4] = {big ? b[0] : b[3], big ? b[1] : b[2], big ? b[2] : b[1], big ? b[3] : b[0]};
        const int value = static_cast<int>(static_cast<DWORD>(order[0]) << 24 | static_cast<DWORD>(order[1]) << 16 |
                                           static_cast<DWORD>(order[2]) << 8 | order[3]);
        CString s;
        s.Format(_T("0x%02x%02x%02x%02x (%d)"), order[0], order[1], order[2], order[3], value);
        text = s.Str();
        break;
    }
    case REG_QWORD:
        text = u"0x";
        for (int i = 7; i >= 0; --i)
            AppendHexByte(text, b[i]);
        break;
    case REG_LINK:
        text = Units(pData, cbData);
        break;
    case REG_MULTI_SZ:
        text = Units(pData, cbData);
        std::replace(text.begin(), text.end(), u'\0', u'\r');
        break;
    default:
        text = Units(pData, cbData);
        text.resize(std::min(text.size(), text.find(u'\0')));
        break;
    }
    strText = CString(std::u16string_view(text));
}

BOOL MyReg::TextToValue(const CString& strTypeName, const CString& strText, DWORD& dwType, std::vector<BYTE>& data) {
    const std::u16string& text = strText.Str();
    data.clear();
    if (regtext::ParseHexTypeName(strTypeName, dwType)) {
        // The exact form is read strictly: whole groups of two digits and a blank.
        if (text.size() % 3)
            return FALSE;
        data.reserve(text.size() / 3);
        for (size_t i = 0; i < text.size(); i += 3) {
            if (regtext::HexDigit(text[i]) < 0 || regtext::HexDigit(text[i + 1]) < 0 || text[i + 2] != u' ')
                return FALSE;
            data.push_back(HexByte(text[i], text[i + 1]));
        }
        return TRUE;
    }
    dwType = TypeFromName(strTypeName);
    switch (dwType) {
    case REG_BINARY:
    case REG_RESOURCE_LIST:
    case REG_RESOURCE_REQUIREMENTS_LIST:
        // An empty text stands for empty data.
        data.reserve(text.size() / 3);
        for (size_t i = 0; i + 3 <= text.size(); i += 3)
            data.push_back(HexByte(text[i], text[i + 1]));
        break;
    case REG_DWORD:
        data.assign(4, 0);
        if (!text.empty()) {
            for (int i = 0; i < 4; ++i)
                data[3 - i] = HexByte(At(text, 2 + 2 * i), At(text, 3 + 2 * i));
        }
        break;
    case REG_QWORD:
        data.assign(8, 0);
        if (!text.empty()) {
            for (int i = 0; i < 8; ++i)
                data[7 - i] = HexByte(At(text, 2 + 2 * i), At(text, 3 + 2 * i));
        }
        break;
    case REG_MULTI_SZ:
        data.reserve(text.size() * 2);
        for (char16_t ch : text)
            AppendUnit(data, ch == u'\r' ? u'\0' : ch);
        break;
    default:
        data.reserve((text.size() + 1) * 2);
        for (char16_t ch : text)
            AppendUnit(data, ch);
        AppendUnit(data, u'\0');
        break;
    }
    return TRUE;
}

BOOL MyReg::IsTextExact(DWORD dwType, const BYTE* pData, DWORD cbData) {
    switch (dwType) {
    case REG_BINARY:
    case REG_RESOURCE_LIST:
    case REG_RESOURCE_REQUIREMENTS_LIST:
        return TRUE;
    case REG_DWORD:
        return cbData == 4;
    case REG_QWORD:
        return cbData == 8;
    case REG_SZ:
    case REG_EXPAND_SZ: {
        // Plain text with one terminating zero; a CR stays inside its line, a line feed would end it.
        if (cbData < 2 || cbData % 2)
            return FALSE;
        const std::u16string units = Units(pData, cbData);
        return units.find(u'\0') == units.size() - 1 && units.find(u'\n') == std::u16string::npos;
    }
    case REG_MULTI_SZ: {
        // Zeros travel as CR, so the strings themselves must hold none.
        if (cbData % 2)
            return FALSE;
        const std::u16string units = Units(pData, cbData);
        return units.find_first_of(u"\r\n") == std::u16string::npos;
    }
    default:
        return FALSE;
    }
}

// ---- Save and measure --------------------------------------------------------------------------------------

CString MyReg::KeyFileName(HKEY hRoot, LPCTSTR lpszSubKey) {
    LPCTSTR format = nullptr;
    if (hRoot == HKEY_CLASSES_ROOT)
        format = _T("HKEY_CLASSES_ROOT\\%s");
    else if (hRoot == HKEY_CURRENT_USER)
        format = _T("HKEY_CURRENT_USER\\%s");
    else if (hRoot == HKEY_LOCAL_MACHINE)
        format = _T("HKEY_LOCAL_MACHINE\\%s");
    else if (hRoot == HKEY_USERS)
        format = _T("HKEY_USERS\\%s");
    else if (hRoot == HKEY_CURRENT_CONFIG)
        format = _T("HKEY_CURRENT_CONFIG\\%s");
    CString name;
    if (format)
        name.Format(format, lpszSubKey ? lpszSubKey : _T(""));
    return name;
}

BOOL MyReg::PutValue(LPCTSTR lpszName, DWORD dwType, const BYTE* pData, DWORD cbData, ULONGLONG* pSize) {
    CString typeName;
    CString text;
    if (IsTextExact(dwType, pData, cbData)) {
        typeName = TypeName(dwType);
        ValueToText(dwType, pData, cbData, text);
        if (!m_writer.CanWriteValue(lpszName, typeName, text, dwType))
            typeName.Empty();
    }
    if (typeName.IsEmpty()) {
        typeName = regtext::HexTypeName(dwType);
        ValueToText(REG_BINARY, pData, cbData, text);
    }
    const BOOL ok = pSize ? m_writer.CountValue(lpszName, typeName, text, dwType, *pSize)
                          : m_writer.WriteValue(lpszName, typeName, text, dwType);
    if (!ok)
        SetLastError(!pSize && m_writer.GetError() ? m_writer.GetError() : ERROR_INVALID_DATA);
    return ok;
}

BOOL MyReg::Walk(HKEY hKey, LPCTSTR lpszName, ULONGLONG* pSize) {
    DWORD nSubKeys = 0;
    DWORD cchMaxSubKey = 0;
    DWORD nValues = 0;
    DWORD cchMaxValueName = 0;
    DWORD cbMaxValue = 0;
    auto query = [&]() {
        return RegQueryInfoKeyW(hKey, nullptr, nullptr, nullptr, &nSubKeys, &cchMaxSubKey, nullptr, &nValues,
                                &cchMaxValueName, &cbMaxValue, nullptr, nullptr);
    };
    if (const LONG error = query()) {
        SetLastError(static_cast<DWORD>(error));
        return FALSE;
    }
    std::vector<TCHAR> name;
    std::vector<BYTE> data;
    if (!Allocate(name, cchMaxValueName + 1) || !Allocate(data, cbMaxValue)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    const BOOL opened = pSize ? m_writer.CountKey(lpszName, TRUE, *pSize) : m_writer.WriteKey(lpszName, TRUE);
    if (!opened) {
        SetLastError(!pSize && m_writer.GetError() ? m_writer.GetError() : ERROR_INVALID_NAME);
        return FALSE;
    }

    // Values first. One that grew since the query is read again with larger buffers; one that went away ends
    // the list early.
    int retries = 0;
    for (DWORD i = 0; i < nValues;) {
        DWORD cchName = static_cast<DWORD>(name.size());
        DWORD cbData = static_cast<DWORD>(data.size());
        DWORD dwType = 0;
        const LONG error = RegEnumValueW(hKey, i, name.data(), &cchName, nullptr, &dwType, data.data(), &cbData);
        if (error == ERROR_NO_MORE_ITEMS)
            break;
        if (error == ERROR_MORE_DATA && ++retries < 8) {
            if (const LONG again = query()) {
                SetLastError(static_cast<DWORD>(again));
                return FALSE;
            }
            if (!Allocate(name, std::max<size_t>(cchMaxValueName + 1, name.size())) ||
                !Allocate(data, std::max<size_t>(std::max<size_t>(cbMaxValue, cbData), data.size() * 2))) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return FALSE;
            }
            continue;
        }
        if (error) {
            SetLastError(static_cast<DWORD>(error));
            return FALSE;
        }
        if (!PutValue(name.data(), dwType, data.data(), cbData, pSize))
            return FALSE;
        retries = 0;
        ++i;
    }

    // Then the subkeys, each walked under its own name.
    std::vector<TCHAR> subKey;
    if (!Allocate(subKey, cchMaxSubKey + 1)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    for (DWORD i = 0;; ++i) {
        DWORD cchSubKey = static_cast<DWORD>(subKey.size());
        LONG error = RegEnumKeyExW(hKey, i, subKey.data(), &cchSubKey, nullptr, nullptr, nullptr, nullptr);
        if (error == ERROR_MORE_DATA) {
            // A longer name appeared since the query; key names are at most 255 characters.
            if (!Allocate(subKey, 256)) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return FALSE;
            }
            cchSubKey = static_cast<DWORD>(subKey.size());
            error = RegEnumKeyExW(hKey, i, subKey.data(), &cchSubKey, nullptr, nullptr, nullptr, nullptr);
        }
        if (error == ERROR_NO_MORE_ITEMS)
            break;
        if (error) {
            SetLastError(static_cast<DWORD>(error));
            return FALSE;
        }
        if (cchSubKey == 0)
            continue;
        HKEY hSubKey = nullptr;
        if (const LONG openError = RegOpenKeyExW(hKey, subKey.data(), 0, KEY_READ, &hSubKey)) {
            SetLastError(static_cast<DWORD>(openError));
            return FALSE;
        }
        platform::OwnedKey sub(hSubKey);
        if (!Walk(sub.get(), subKey.data(), pSize))
            return FALSE;
    }

    const BOOL closed = pSize ? m_writer.CountKey(lpszName, FALSE, *pSize) : m_writer.WriteKey(lpszName, FALSE);
    if (!closed) {
        SetLastError(!pSize && m_writer.GetError() ? m_writer.GetError() : ERROR_INVALID_NAME);
        return FALSE;
    }
    return TRUE;
}

BOOL MyReg::SaveKey(HKEY hKey, LPCTSTR lpszName) {
    return Walk(hKey, lpszName, nullptr);
}

BOOL MyReg::CalKey(HKEY hKey, LPCTSTR lpszName, ULONGLONG& nSize) {
    return Walk(hKey, lpszName, &nSize);
}

BOOL MyReg::SaveKeyToFile(HKEY hRoot, LPCTSTR lpszSubKey, LPCTSTR lpszFile) {
    // Only a subtree under a predefined root can name its root in the text, and only such a text reads back.
    const CString name = KeyFileName(hRoot, lpszSubKey);
    platform::OwnedKey key(OpenNamedSubtree(hRoot, lpszSubKey, name));
    if (!key)
        return FALSE;
    m_writer.Close(FALSE);
    m_writer.SetFileName(lpszFile);
    BOOL ok = SaveKey(key.get(), name);
    DWORD error = ok ? 0 : GetLastError();
    if (!m_writer.Close(ok) && ok) {
        ok = FALSE;
        error = m_writer.GetError();
    }
    if (!ok)
        SetLastError(error ? error : ERROR_WRITE_FAULT);
    return ok;
}

BOOL MyReg::CalKeyByName(HKEY hRoot, LPCTSTR lpszSubKey, ULONGLONG& nSize) {
    const CString name = KeyFileName(hRoot, lpszSubKey);
    platform::OwnedKey key(OpenNamedSubtree(hRoot, lpszSubKey, name));
    if (!key)
        return FALSE;
    m_writer.Close(FALSE);
    ULONGLONG size = 0;
    const BOOL ok = CalKey(key.get(), name, size);
    const DWORD error = ok ? 0 : GetLastError();
    m_writer.Close(FALSE);
    if (!ok) {
        SetLastError(error);
        return FALSE;
    }
    nSize += size;
    return TRUE;
}

// ---- Load --------------------------------------------------------------------------------------------------

LONG MyReg::OpenKey(LPCTSTR lpszPath, MyRegKeyItem* pItem) {
    HKEY hKey = nullptr;
    const LONG error = RegCreateKeyW(m_reader.GetRootKey(), lpszPath, &hKey);
    pItem->hKey = error ? nullptr : hKey;
    return error;
}

void MyReg::CloseKey(MyRegKeyItem* pItem) {
    if (pItem->hKey)
        RegCloseKey(pItem->hKey);
    pItem->hKey = nullptr;
}

DWORD MyReg::SetPendingValues() {
    DWORD result = 0;
    auto fail = [&](DWORD error) {
        if (!result)
            result = error;
    };
    for (const std::unique_ptr<MyRegValueItem>& item : m_values) {
        // A value of a key that could not be opened was already reported with its key.
        if (!item->hKey)
            continue;
        DWORD dwType = 0;
        std::vector<BYTE> data;
        if (!TextToValue(item->strType, item->strText, dwType, data)) {
            fail(ERROR_INVALID_DATA);
            continue;
        }
        const BYTE dummy = 0;
        if (const LONG error = RegSetValueExW(item->hKey, item->strName, 0, dwType, data.empty() ? &dummy : data.data(),
                                              static_cast<DWORD>(data.size())))
            fail(static_cast<DWORD>(error));
    }
    m_values.clear();
    return result;
}

DWORD MyReg::LoadKeyFromFile(LPCTSTR lpszFile, HKEY hRoot, LPCTSTR lpszKeyPath) {
    m_keys.clear();
    m_values.clear();
    m_reader.Close();
    m_reader.SetFileName(lpszFile);
    DWORD result = 0;
    auto fail = [&](DWORD error) {
        if (!result)
            result = error;
    };
    bool finished = false;
    while (m_reader.ReadString(hRoot, lpszKeyPath)) {
        if (finished) {
            // The text holds one subtree; anything after its outermost key is not of it.
            fail(ERROR_INVALID_DATA);
            break;
        }
        switch (m_reader.GetNodeType()) {
        case CRegReader::NODE_KEY_OPEN: {
            auto item = std::make_unique<MyRegKeyItem>();
            item->strName = m_reader.GetKeyName();
            if (const LONG error = OpenKey(m_reader.GetKeyPath(), item.get()))
                fail(static_cast<DWORD>(error));
            m_keys.push_back(std::move(item));
            break;
        }
        case CRegReader::NODE_KEY_CLOSE: {
            if (m_keys.empty()) {
                fail(ERROR_INVALID_DATA);
                break;
            }
            std::unique_ptr<MyRegKeyItem> item = std::move(m_keys.back());
            m_keys.pop_back();
            if (const DWORD error = SetPendingValues())
                fail(error);
            CloseKey(item.get());
            m_reader.PopKeyPath();
            finished = m_keys.empty();
            break;
        }
        default: {
            if (m_keys.empty()) {
                fail(ERROR_INVALID_DATA);
                break;
            }
            auto item = std::make_unique<MyRegValueItem>();
            item->hKey = m_keys.back()->hKey;
            item->strName = m_reader.GetValueName();
            item->strType = m_reader.GetTypeName();
            item->strText = m_reader.TakeValueText();
            m_values.push_back(std::move(item));
            break;
        }
        }
    }
    // Reading stopped early, or ended with keys still open: the values still pending are not written.
    if (const DWORD error = m_reader.GetError())
        fail(error);
    if (!finished)
        fail(ERROR_INVALID_DATA);
    m_values.clear();
    m_keys.clear();
    m_reader.Close();
    return result;
}
