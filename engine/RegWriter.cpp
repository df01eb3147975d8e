#include "engine/RegWriter.h"

#include "engine/RegText.h"
#include "platform/base/errors.h"
#include "platform/registry/registry.h"

#include <algorithm>

using regtext::IsBlank;
using regtext::kMaxPhysicalLine;
using regtext::kPieceLength;

namespace {

constexpr size_t kFlushThreshold = 32 * 1024;

bool HasLineBreak(const std::u16string& s) {
    return s.find_first_of(u"\r\n") != std::u16string::npos;
}

std::u16string Text(LPCTSTR lpsz) {
    return lpsz ? std::u16string(lpsz) : std::u16string();
}

} // namespace

RegWriter::RegWriter() = default;

RegWriter::~RegWriter() {
    // A writer dropped before Close never leaves a partial file behind.
    if (m_file.IsOpen())
        Close(FALSE);
}

void RegWriter::SetFileName(LPCTSTR lpszFileName) {
    if (!m_file.IsOpen())
        m_strFileName = lpszFileName ? lpszFileName : _T("");
}

BOOL RegWriter::Fail(DWORD dwError) {
    if (!m_dwError)
        m_dwError = dwError ? dwError : ERROR_WRITE_FAULT;
    return FALSE;
}

BOOL RegWriter::OpenFile() {
    m_dwError = 0;
    m_buffer.clear();
    if (m_strFileName.IsEmpty())
        return Fail(ERROR_INVALID_PARAMETER);
    // The text is new content of the target until it is complete.
    if (const DWORD error = m_file.Begin(m_strFileName))
        return Fail(error);
    m_nIndent = 0;
    m_buffer.assign(1, u'\xFEFF');
    return TRUE;
}

BOOL RegWriter::Flush() {
    if (m_dwError)
        return FALSE;
    if (const DWORD error = m_file.Write(m_buffer.data(), m_buffer.size() * sizeof(char16_t)))
        return Fail(error);
    m_buffer.clear();
    return TRUE;
}

BOOL RegWriter::Close(BOOL bKeep) {
    m_nIndent = 0;
    if (!m_file.IsOpen())
        return m_dwError == 0;
    BOOL keep = bKeep && Flush();
    m_buffer.clear();
    if (keep) {
        if (const DWORD error = m_file.Commit(platform::fs::WholeFile::kFlush))
            keep = Fail(error);
    }
    m_file.Abandon();
    return keep;
}

BOOL RegWriter::CutLine(Line& line, size_t nTextStart, size_t nTextLength, bool bPieced, int nIndent) {
    const std::u16string& c = line.content;
    const size_t total = c.size();
    const size_t indent = static_cast<size_t>(nIndent);
    line.cuts.clear();
    if (indent + 2 + 4 > static_cast<size_t>(kMaxPhysicalLine))
        return FALSE;
    auto fits = [&]() {
        size_t start = 0;
        for (size_t k = 0; k <= line.cuts.size(); ++k) {
            const size_t end = k < line.cuts.size() ? line.cuts[k] : total;
            const size_t length = (k ? indent + 2 : indent) + (end - start) + (k < line.cuts.size() ? 3 : 2);
            if (length > static_cast<size_t>(kMaxPhysicalLine))
                return false;
            start = end;
        }
        return true;
    };
    if (!bPieced && fits())
        return TRUE;
    // The text in pieces of 48 characters. A piece that would leave blanks or tabs at the start of the next line
    // takes them in, as the reader drops them there.
    size_t i = nTextStart;
    const size_t end = nTextStart + nTextLength;
    while (end - i > static_cast<size_t>(kPieceLength)) {
        size_t cut = i + kPieceLength;
        while (cut < end && IsBlank(c[cut]))
            ++cut;
        if (cut >= end)
            break;
        line.cuts.push_back(cut);
        i = cut;
    }
    if (fits())
        return TRUE;
    // A name too long for one line: cut anywhere, as long as the reader takes the lines, never before a blank.
    line.cuts.clear();
    const size_t width = static_cast<size_t>(kMaxPhysicalLine) - (indent + 2) - 3;
    size_t start = 0;
    while (total - start > width) {
        size_t cut = start + width;
        while (cut > start && IsBlank(c[cut]))
            --cut;
        if (cut == start)
            return FALSE;
        line.cuts.push_back(cut);
        start = cut;
    }
    return fits();
}

ULONGLONG RegWriter::LineLength(const Line& line, int nIndent) {
    const ULONGLONG pieces = line.cuts.size() + 1;
    // Every piece ends with CR LF, every piece but the last with a backslash before it, and every continuation
    // is indented by two more blanks.
    return static_cast<ULONGLONG>(nIndent) * pieces + 2 * (pieces - 1) + line.content.size() + 2 * pieces +
           (pieces - 1);
}

BOOL RegWriter::LayoutKey(LPCTSTR lpszName, int nIndent, BOOL bOpen, Line& line) const {
    const CString name = lpszName ? lpszName : _T("");
    const std::u16string head = bOpen ? u"[" : u"[/";
    if (nIndent == 0) {
        // The outermost name is a path: it is written as it is and must not break its line.
        if (name.Str().find_first_of(u"]\r\n") != std::u16string::npos)
            return FALSE;
        line.content = head + name.Str() + u"]";
        return CutLine(line, 0, 0, false, nIndent);
    }
    for (unsigned blanks : {0u, unsigned{regtext::kEscapeBlanks}}) {
        const CString escaped =
            regtext::EscapeName(name, regtext::kEscapeBracket | regtext::kEscapeLeadingSlash | blanks);
        line.content = head + escaped.Str() + u"]";
        if (CutLine(line, 0, 0, false, nIndent))
            return TRUE;
    }
    return FALSE;
}

BOOL RegWriter::LayoutValue(LPCTSTR lpszValueName, LPCTSTR lpszTypeName, LPCTSTR lpszText, DWORD dwType,
                            Line& line) const {
    const std::u16string name = Text(lpszValueName);
    const std::u16string type = Text(lpszTypeName);
    const std::u16string text = Text(lpszText);
    DWORD dwExactType = 0;
    const bool exact = regtext::ParseHexTypeName(CString(std::u16string_view(type)), dwExactType);
    // A CR inside a line is read back as it is; a line feed would end the line.
    if (type.find_first_of(u"\"\r\n") != std::u16string::npos || text.find(u'\n') != std::u16string::npos)
        return FALSE;
    if (!exact && (HasLineBreak(name) || name.find(u"\",type=\"") != std::u16string::npos))
        return FALSE;
    const bool pieced = exact || dwType == REG_BINARY || dwType == REG_MULTI_SZ;
    for (unsigned blanks : {0u, unsigned{regtext::kEscapeBlanks}}) {
        if (!exact && blanks)
            break;
        const std::u16string written =
            exact ? regtext::EscapeName(CString(std::u16string_view(name)), regtext::kEscapeQuote | blanks).Str()
                  : name;
        line.content = u"name=\"" + written + u"\",type=\"" + type + u"\",value=\"";
        const size_t textStart = line.content.size();
        line.content += text;
        line.content += u'"';
        if (CutLine(line, textStart, text.size(), pieced, m_nIndent))
            return TRUE;
    }
    return FALSE;
}

BOOL RegWriter::Emit(const Line& line, int nIndent) {
    size_t start = 0;
    for (size_t k = 0; k <= line.cuts.size(); ++k) {
        const bool last = k == line.cuts.size();
        const size_t end = last ? line.content.size() : line.cuts[k];
        m_buffer.append(static_cast<size_t>(k ? nIndent + 2 : nIndent), u' ');
        m_buffer.append(line.content, start, end - start);
        m_buffer += last ? u"\r\n" : u"\\\r\n";
        start = end;
    }
    return m_buffer.size() < kFlushThreshold || Flush();
}

BOOL RegWriter::WriteKey(LPCTSTR lpszName, BOOL bOpen) {
    if (!m_file.IsOpen() && !OpenFile())
        return FALSE;
    if (m_dwError)
        return FALSE;
    const int indent = bOpen ? m_nIndent : m_nIndent - 2;
    if (indent < 0)
        return Fail(ERROR_INVALID_PARAMETER);
    Line line;
    if (!LayoutKey(lpszName, indent, bOpen, line))
        return Fail(ERROR_INVALID_NAME);
    if (!Emit(line, indent))
        return FALSE;
    m_nIndent = bOpen ? indent + 2 : indent;
    return TRUE;
}

BOOL RegWriter::WriteValue(LPCTSTR lpszValueName, LPCTSTR lpszTypeName, LPCTSTR lpszText, DWORD dwType) {
    if (!m_file.IsOpen() || m_dwError)
        return FALSE;
    Line line;
    if (!LayoutValue(lpszValueName, lpszTypeName, lpszText, dwType, line))
        return Fail(ERROR_INVALID_DATA);
    return Emit(line, m_nIndent);
}

BOOL RegWriter::CanWriteValue(LPCTSTR lpszValueName, LPCTSTR lpszTypeName, LPCTSTR lpszText, DWORD dwType) const {
    Line line;
    return LayoutValue(lpszValueName, lpszTypeName, lpszText, dwType, line);
}

BOOL RegWriter::CountKey(LPCTSTR lpszName, BOOL bOpen, ULONGLONG& nSize) {
    const int indent = bOpen ? m_nIndent : m_nIndent - 2;
    Line line;
    if (indent < 0 || !LayoutKey(lpszName, indent, bOpen, line))
        return FALSE;
    // The estimate counts an opening line one character longer and a closing line one shorter than written.
    nSize += LineLength(line, indent) + 1;
    if (!bOpen)
        nSize -= 2;
    m_nIndent = bOpen ? indent + 2 : indent;
    return TRUE;
}

BOOL RegWriter::CountValue(LPCTSTR lpszValueName, LPCTSTR lpszTypeName, LPCTSTR lpszText, DWORD dwType,
                           ULONGLONG& nSize) {
    Line line;
    if (!LayoutValue(lpszValueName, lpszTypeName, lpszText, dwType, line))
        return FALSE;
    // The estimate counts a value line one character longer than written.
    nSize += LineLength(line, m_nIndent) + 1;
    return TRUE;
}
