#include "engine/RegReader.h"

#include "engine/RegText.h"
#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/unique_handle.h"
#include "platform/fs/files.h"
#include "platform/registry/registry.h"

#include <algorithm>
#include <vector>

namespace {

struct RootName {
    HKEY hKey;
    const char16_t* name;
};

// Looked up in this order, as files name them.
const RootName kRoots[] = {
    {HKEY_CURRENT_USER, u"HKEY_CURRENT_USER"},     {HKEY_LOCAL_MACHINE, u"HKEY_LOCAL_MACHINE"},
    {HKEY_CLASSES_ROOT, u"HKEY_CLASSES_ROOT"},     {HKEY_USERS, u"HKEY_USERS"},
    {HKEY_CURRENT_CONFIG, u"HKEY_CURRENT_CONFIG"},
};

char16_t Upper(char16_t ch) {
    return ch >= u'a' && ch <= u'z' ? static_cast<char16_t>(ch - u'a' + u'A') : ch;
}

bool StartsWithNoCase(const std::u16string& s, std::u16string_view prefix) {
    if (s.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (Upper(s[i]) != Upper(prefix[i]))
            return false;
    }
    return true;
}

} // namespace

CRegReader::CRegReader() = default;

CRegReader::~CRegReader() = default;

void CRegReader::SetFileName(LPCTSTR lpszFileName) {
    if (m_bOpen)
        return;
    m_strFileName = lpszFileName ? lpszFileName : _T("");
    m_bFirstKey = true;
    m_nDepth = 0;
}

void CRegReader::Close() {
    m_bOpen = false;
    m_data.clear();
    m_data.shrink_to_fit();
    m_nPos = 0;
    m_bFirstKey = true;
}

CString CRegReader::TakeValueText() {
    CString text = std::move(m_strValueText);
    m_strValueText.Empty();
    return text;
}

BOOL CRegReader::Fail() {
    if (!m_dwError)
        m_dwError = ERROR_INVALID_DATA;
    return FALSE;
}

BOOL CRegReader::Open() {
    m_dwError = 0;
    m_strKeyName.Empty();
    m_strKeyPath.Empty();
    m_strValueName.Empty();
    m_strTypeName.Empty();
    m_strValueText.Empty();
    m_strOuterName.Empty();
    m_hRootKey = nullptr;
    m_nDepth = 0;
    m_data.clear();
    m_nPos = 0;
    platform::OwnedHandle file(CreateFileW(m_strFileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    const HANDLE hFile = file.get();
    if (!file) {
        m_dwError = GetLastError();
        return FALSE;
    }
    std::vector<BYTE> bytes;
    LARGE_INTEGER size{};
    BOOL ok = GetFileSizeEx(hFile, &size);
    if (ok) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        size_t done = 0;
        while (ok && done < bytes.size()) {
            DWORD read = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
            ok = ReadFile(hFile, bytes.data() + done, chunk, &read, nullptr);
            if (ok && read == 0)
                break;
            done += read;
        }
        bytes.resize(done);
    }
    const DWORD error = ok ? 0 : GetLastError();
    file.reset();
    if (!ok) {
        m_dwError = error ? error : ERROR_READ_FAULT;
        return FALSE;
    }
    // The first two bytes are the byte-order mark. A byte left over after the last whole character means the
    // file was cut short.
    if (bytes.size() % 2)
        return Fail();
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        m_data += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    m_bOpen = true;
    return TRUE;
}

bool CRegReader::ReadPhysicalLine(std::u16string& line) {
    if (m_nPos >= m_data.size())
        return false;
    const size_t limit = std::min<size_t>(m_data.size() - m_nPos, regtext::kMaxPhysicalLine);
    const size_t end = m_data.find(u'\n', m_nPos);
    if (end == std::u16string::npos || end - m_nPos >= limit) {
        // Longer than the line buffer, or the last line cut off before its line end.
        m_nPos = m_data.size();
        Fail();
        return false;
    }
    line.assign(m_data, m_nPos, end + 1 - m_nPos);
    m_nPos = end + 1;
    return true;
}

BOOL CRegReader::ReadLogicalLine() {
    m_strLine.clear();
    bool continued = false;
    std::u16string line;
    while (ReadPhysicalLine(line)) {
        const size_t first = line.find_first_not_of(u" \t");
        line.erase(0, first == std::u16string::npos ? line.size() : first);
        line.pop_back();
        if (!line.empty() && line.back() == u'\r')
            line.pop_back();
        if (!line.empty() && line.back() == u'\\') {
            line.pop_back();
            m_strLine += line;
            continued = true;
            continue;
        }
        m_strLine += line;
        // An empty line carries nothing; the next one is read in its place.
        if (m_strLine.empty() && !continued)
            continue;
        return TRUE;
    }
    // The end of the data in the middle of a continued line is a file cut short.
    if (continued)
        Fail();
    return FALSE;
}

BOOL CRegReader::ReadString(HKEY hRoot, LPCTSTR lpszPath) {
    if (!m_bOpen) {
        if (!Open())
            return FALSE;
    } else if (m_dwError) {
        return FALSE;
    }
    if (!ReadLogicalLine())
        return FALSE;
    return ParseString(hRoot, lpszPath);
}

BOOL CRegReader::ParseString(HKEY hRoot, LPCTSTR lpszPath) {
    if (!m_strLine.empty() && m_strLine.front() == u'[')
        return ParseKey(hRoot, lpszPath) ? TRUE : Fail();
    return ParseValue() ? TRUE : Fail();
}

BOOL CRegReader::ParseKey(HKEY hRoot, LPCTSTR lpszPath) {
    // The text after "[", up to the first "]".
    const size_t bracket = m_strLine.find(u']');
    const std::u16string text =
        m_strLine.substr(1, bracket == std::u16string::npos ? std::u16string::npos : bracket - 1);
    if (!text.empty() && text.front() == u'/') {
        --m_nDepth;
        if (m_nDepth < 0)
            return FALSE;
        const CString name(std::u16string_view(text).substr(1));
        if (m_nDepth == 0) {
            // The outermost key closes with the name it opened with, or with the path it was read into.
            if (text.find(m_strKeyPath.Str()) == std::u16string::npos && name.CompareNoCase(m_strOuterName) != 0)
                return FALSE;
            m_strKeyName = name;
        } else {
            CString plain;
            if (!regtext::UnescapeName(name, plain) || m_strKeyPath.Find(plain) < 0)
                return FALSE;
            m_strKeyName = plain;
        }
        m_nNodeType = NODE_KEY_CLOSE;
        return TRUE;
    }
    if (m_bFirstKey) {
        const RootName* root = nullptr;
        for (const RootName& candidate : kRoots) {
            const std::u16string_view rootName(candidate.name);
            if (StartsWithNoCase(text, rootName) &&
                (text.size() == rootName.size() || text[rootName.size()] == u'\\')) {
                root = &candidate;
                break;
            }
        }
        if (!root)
            return FALSE;
        const size_t nameStart = std::min(text.size(), std::u16string_view(root->name).size() + 1);
        std::u16string name = text.substr(nameStart);
        m_strOuterName = CString(std::u16string_view(text));
        m_hRootKey = hRoot ? hRoot : root->hKey;
        if (lpszPath && *lpszPath)
            name = lpszPath;
        while (!name.empty() && name.back() == u'\\')
            name.pop_back();
        m_strKeyName = CString(std::u16string_view(name));
        m_strKeyPath = m_strKeyName;
        m_bFirstKey = false;
    } else {
        CString name;
        if (!regtext::UnescapeName(CString(std::u16string_view(text)), name) || name.IsEmpty() || name.Find(u'\\') >= 0)
            return FALSE;
        m_strKeyName = name;
        m_strKeyPath = m_strKeyPath.IsEmpty() ? name : m_strKeyPath + _T("\\") + name;
    }
    m_nNodeType = NODE_KEY_OPEN;
    ++m_nDepth;
    return TRUE;
}

BOOL CRegReader::ParseValue() {
    const std::u16string& line = m_strLine;
    const size_t mark = line.find(u"name=\"");
    if (mark == std::u16string::npos)
        return FALSE;
    const size_t nameStart = mark + 6;
    const size_t nameEnd = line.find(u"\",type=\"", nameStart);
    if (nameEnd == std::u16string::npos)
        return FALSE;
    const size_t typeStart = nameEnd + 8;
    const size_t typeEnd = line.find(u"\",value=\"", typeStart);
    if (typeEnd == std::u16string::npos)
        return FALSE;
    const size_t textStart = typeEnd + 9;
    if (line.size() < textStart + 1 || line.back() != u'"')
        return FALSE;
    const CString name(std::u16string_view(line).substr(nameStart, nameEnd - nameStart));
    m_strTypeName = CString(std::u16string_view(line).substr(typeStart, typeEnd - typeStart));
    DWORD dwType = 0;
    if (regtext::ParseHexTypeName(m_strTypeName, dwType)) {
        if (!regtext::UnescapeName(name, m_strValueName))
            return FALSE;
    } else {
        m_strValueName = name;
    }
    m_strValueText = CString(std::u16string_view(line).substr(textStart, line.size() - 1 - textStart));
    m_nNodeType = NODE_VALUE;
    return TRUE;
}

void CRegReader::PopKeyPath() {
    const int slash = m_strKeyPath.ReverseFind(u'\\');
    if (slash > 0) {
        m_strKeyPath = m_strKeyPath.Left(slash);
        return;
    }
    // An inner key read into the root itself has no backslash in its path.
    if (m_nDepth > 0)
        m_strKeyPath.Empty();
}
