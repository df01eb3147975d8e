// Pieces that the registry export text's writer and reader share: the line limits, the exact hex form and the
// escaping of names. Internal to the engine.
#pragma once

#include "platform/afx/String.h"
#include "platform/base/types.h"

namespace regtext {

// The reader's line buffer holds 2048 characters, so a physical line, CR LF included, stays within 2047.
constexpr int kMaxPhysicalLine = 2047;
// Binary and multi-string texts are cut into pieces of this many characters.
constexpr int kPieceLength = 48;

inline bool IsBlank(TCHAR ch) {
    return ch == u' ' || ch == u'\t';
}

// The exact form "hex(N)": the value's bytes in REG_BINARY's text form and its registry type N in decimal. It
// carries what the named forms would not bring back unchanged (types without a name of their own, strings that
// are not plain zero-terminated text, odd sizes, names that would break the line). The value name of such a
// line is always escaped.
CString HexTypeName(DWORD dwType);
// True for a type name of the exact form; dwType receives N.
bool ParseHexTypeName(const CString& strTypeName, DWORD& dwType);

// Names are escaped as a backslash and four hexadecimal digits per UTF-16 code unit. Backslashes, CR and LF are
// always escaped; the flags add the characters that matter where the name stands.
enum EscapeFlags : unsigned {
    kEscapeQuote = 1,        // '"': a value name of the exact form
    kEscapeBracket = 2,      // ']': a key name, which its line ends at the first ']'
    kEscapeLeadingSlash = 4, // '/' as the first character: a key name, as "[/" starts a closing line
    kEscapeBlanks = 8,       // blanks and tabs, so that a line can be continued anywhere within the name
};
bool NeedsEscape(const CString& strName, unsigned nFlags);
CString EscapeName(const CString& strName, unsigned nFlags);
// Reverses EscapeName; false for a backslash that is not followed by four hexadecimal digits.
bool UnescapeName(const CString& strText, CString& strName);

// The value of one hexadecimal digit, or -1.
int HexDigit(TCHAR ch);

} // namespace regtext
