#include "tools/rescomp/Script.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>

namespace rescomp {
namespace {

// Constants a script may name without defining them.
const std::map<std::string, int64_t>& Builtins() {
    static const std::map<std::string, int64_t> table = {
        // Window styles.
        {"WS_OVERLAPPED", 0x00000000},
        {"WS_POPUP", 0x80000000},
        {"WS_CHILD", 0x40000000},
        {"WS_MINIMIZE", 0x20000000},
        {"WS_VISIBLE", 0x10000000},
        {"WS_DISABLED", 0x08000000},
        {"WS_CLIPSIBLINGS", 0x04000000},
        {"WS_CLIPCHILDREN", 0x02000000},
        {"WS_MAXIMIZE", 0x01000000},
        {"WS_CAPTION", 0x00C00000},
        {"WS_BORDER", 0x00800000},
        {"WS_DLGFRAME", 0x00400000},
        {"WS_VSCROLL", 0x00200000},
        {"WS_HSCROLL", 0x00100000},
        {"WS_SYSMENU", 0x00080000},
        {"WS_THICKFRAME", 0x00040000},
        {"WS_GROUP", 0x00020000},
        {"WS_TABSTOP", 0x00010000},
        {"WS_MINIMIZEBOX", 0x00020000},
        {"WS_MAXIMIZEBOX", 0x00010000},
        {"WS_OVERLAPPEDWINDOW", 0x00CF0000},
        {"WS_POPUPWINDOW", 0x80880000},
        {"WS_CHILDWINDOW", 0x40000000},
        // Extended window styles.
        {"WS_EX_DLGMODALFRAME", 0x1},
        {"WS_EX_NOPARENTNOTIFY", 0x4},
        {"WS_EX_TOPMOST", 0x8},
        {"WS_EX_ACCEPTFILES", 0x10},
        {"WS_EX_TRANSPARENT", 0x20},
        {"WS_EX_TOOLWINDOW", 0x80},
        {"WS_EX_WINDOWEDGE", 0x100},
        {"WS_EX_CLIENTEDGE", 0x200},
        {"WS_EX_CONTEXTHELP", 0x400},
        {"WS_EX_RIGHT", 0x1000},
        {"WS_EX_RTLREADING", 0x2000},
        {"WS_EX_LEFTSCROLLBAR", 0x4000},
        {"WS_EX_CONTROLPARENT", 0x10000},
        {"WS_EX_STATICEDGE", 0x20000},
        {"WS_EX_APPWINDOW", 0x40000},
        {"WS_EX_LAYERED", 0x80000},
        // Dialog styles.
        {"DS_ABSALIGN", 0x1},
        {"DS_SYSMODAL", 0x2},
        {"DS_LOCALEDIT", 0x20},
        {"DS_SETFONT", 0x40},
        {"DS_MODALFRAME", 0x80},
        {"DS_NOIDLEMSG", 0x100},
        {"DS_SETFOREGROUND", 0x200},
        {"DS_3DLOOK", 0x4},
        {"DS_FIXEDSYS", 0x8},
        {"DS_NOFAILCREATE", 0x10},
        {"DS_CONTROL", 0x400},
        {"DS_CENTER", 0x800},
        {"DS_CENTERMOUSE", 0x1000},
        {"DS_CONTEXTHELP", 0x2000},
        {"DS_SHELLFONT", 0x48},
        // Buttons.
        {"BS_PUSHBUTTON", 0x0},
        {"BS_DEFPUSHBUTTON", 0x1},
        {"BS_CHECKBOX", 0x2},
        {"BS_AUTOCHECKBOX", 0x3},
        {"BS_RADIOBUTTON", 0x4},
        {"BS_3STATE", 0x5},
        {"BS_AUTO3STATE", 0x6},
        {"BS_GROUPBOX", 0x7},
        {"BS_USERBUTTON", 0x8},
        {"BS_AUTORADIOBUTTON", 0x9},
        {"BS_OWNERDRAW", 0xB},
        {"BS_LEFTTEXT", 0x20},
        {"BS_TEXT", 0x0},
        {"BS_ICON", 0x40},
        {"BS_BITMAP", 0x80},
        {"BS_LEFT", 0x100},
        {"BS_RIGHT", 0x200},
        {"BS_CENTER", 0x300},
        {"BS_TOP", 0x400},
        {"BS_BOTTOM", 0x800},
        {"BS_VCENTER", 0xC00},
        {"BS_PUSHLIKE", 0x1000},
        {"BS_MULTILINE", 0x2000},
        {"BS_NOTIFY", 0x4000},
        {"BS_FLAT", 0x8000},
        // Edits.
        {"ES_LEFT", 0x0},
        {"ES_CENTER", 0x1},
        {"ES_RIGHT", 0x2},
        {"ES_MULTILINE", 0x4},
        {"ES_UPPERCASE", 0x8},
        {"ES_LOWERCASE", 0x10},
        {"ES_PASSWORD", 0x20},
        {"ES_AUTOVSCROLL", 0x40},
        {"ES_AUTOHSCROLL", 0x80},
        {"ES_NOHIDESEL", 0x100},
        {"ES_OEMCONVERT", 0x400},
        {"ES_READONLY", 0x800},
        {"ES_WANTRETURN", 0x1000},
        {"ES_NUMBER", 0x2000},
        // Statics.
        {"SS_LEFT", 0x0},
        {"SS_CENTER", 0x1},
        {"SS_RIGHT", 0x2},
        {"SS_ICON", 0x3},
        {"SS_BLACKRECT", 0x4},
        {"SS_GRAYRECT", 0x5},
        {"SS_WHITERECT", 0x6},
        {"SS_BLACKFRAME", 0x7},
        {"SS_GRAYFRAME", 0x8},
        {"SS_WHITEFRAME", 0x9},
        {"SS_SIMPLE", 0xB},
        {"SS_LEFTNOWORDWRAP", 0xC},
        {"SS_OWNERDRAW", 0xD},
        {"SS_BITMAP", 0xE},
        {"SS_ETCHEDHORZ", 0x10},
        {"SS_ETCHEDVERT", 0x11},
        {"SS_ETCHEDFRAME", 0x12},
        {"SS_REALSIZECONTROL", 0x40},
        {"SS_NOPREFIX", 0x80},
        {"SS_NOTIFY", 0x100},
        {"SS_CENTERIMAGE", 0x200},
        {"SS_RIGHTJUST", 0x400},
        {"SS_REALSIZEIMAGE", 0x800},
        {"SS_SUNKEN", 0x1000},
        {"SS_ENDELLIPSIS", 0x4000},
        {"SS_PATHELLIPSIS", 0x8000},
        // List and combo boxes.
        {"LBS_NOTIFY", 0x1},
        {"LBS_SORT", 0x2},
        {"LBS_NOREDRAW", 0x4},
        {"LBS_MULTIPLESEL", 0x8},
        {"LBS_OWNERDRAWFIXED", 0x10},
        {"LBS_OWNERDRAWVARIABLE", 0x20},
        {"LBS_HASSTRINGS", 0x40},
        {"LBS_USETABSTOPS", 0x80},
        {"LBS_NOINTEGRALHEIGHT", 0x100},
        {"LBS_EXTENDEDSEL", 0x800},
        {"LBS_DISABLENOSCROLL", 0x1000},
        {"LBS_NOSEL", 0x4000},
        {"LBS_STANDARD", 0xA00003},
        {"CBS_SIMPLE", 0x1},
        {"CBS_DROPDOWN", 0x2},
        {"CBS_DROPDOWNLIST", 0x3},
        {"CBS_OWNERDRAWFIXED", 0x10},
        {"CBS_OWNERDRAWVARIABLE", 0x20},
        {"CBS_AUTOHSCROLL", 0x40},
        {"CBS_OEMCONVERT", 0x80},
        {"CBS_SORT", 0x100},
        {"CBS_HASSTRINGS", 0x200},
        {"CBS_NOINTEGRALHEIGHT", 0x400},
        {"CBS_DISABLENOSCROLL", 0x800},
        {"SBS_HORZ", 0x0},
        {"SBS_VERT", 0x1},
        // Common controls.
        {"TVS_HASBUTTONS", 0x1},
        {"TVS_HASLINES", 0x2},
        {"TVS_LINESATROOT", 0x4},
        {"TVS_EDITLABELS", 0x8},
        {"TVS_DISABLEDRAGDROP", 0x10},
        {"TVS_SHOWSELALWAYS", 0x20},
        {"TVS_CHECKBOXES", 0x100},
        {"TVS_TRACKSELECT", 0x200},
        {"TVS_FULLROWSELECT", 0x1000},
        {"TVS_NOSCROLL", 0x2000},
        {"LVS_ICON", 0x0},
        {"LVS_REPORT", 0x1},
        {"LVS_SMALLICON", 0x2},
        {"LVS_LIST", 0x3},
        {"LVS_SINGLESEL", 0x4},
        {"LVS_SHOWSELALWAYS", 0x8},
        {"LVS_SORTASCENDING", 0x10},
        {"LVS_SORTDESCENDING", 0x20},
        {"LVS_SHAREIMAGELISTS", 0x40},
        {"LVS_NOLABELWRAP", 0x80},
        {"LVS_AUTOARRANGE", 0x100},
        {"LVS_EDITLABELS", 0x200},
        {"LVS_OWNERDATA", 0x1000},
        {"LVS_NOSCROLL", 0x2000},
        {"LVS_ALIGNLEFT", 0x800},
        {"LVS_OWNERDRAWFIXED", 0x400},
        {"LVS_NOCOLUMNHEADER", 0x4000},
        {"LVS_NOSORTHEADER", 0x8000},
        {"TCS_TABS", 0x0},
        {"TCS_BUTTONS", 0x100},
        {"TCS_MULTILINE", 0x200},
        {"TCS_FIXEDWIDTH", 0x400},
        {"TCS_OWNERDRAWFIXED", 0x2000},
        {"TCS_TOOLTIPS", 0x4000},
        {"TCS_FOCUSNEVER", 0x8000},
        {"TBS_AUTOTICKS", 0x1},
        {"TBS_VERT", 0x2},
        {"TBS_HORZ", 0x0},
        {"TBS_TOP", 0x4},
        {"TBS_BOTTOM", 0x0},
        {"TBS_BOTH", 0x8},
        {"TBS_NOTICKS", 0x10},
        {"TBS_ENABLESELRANGE", 0x20},
        {"TBS_NOTHUMB", 0x80},
        {"PBS_SMOOTH", 0x1},
        {"PBS_VERTICAL", 0x4},
        {"UDS_WRAP", 0x1},
        {"UDS_SETBUDDYINT", 0x2},
        {"UDS_ALIGNRIGHT", 0x4},
        {"UDS_ALIGNLEFT", 0x8},
        {"UDS_AUTOBUDDY", 0x10},
        {"UDS_ARROWKEYS", 0x20},
        {"UDS_HORZ", 0x40},
        {"UDS_NOTHOUSANDS", 0x80},
        {"ACS_CENTER", 0x1},
        {"ACS_TRANSPARENT", 0x2},
        {"ACS_AUTOPLAY", 0x4},
        {"DTS_UPDOWN", 0x1},
        {"DTS_SHOWNONE", 0x2},
        {"DTS_SHORTDATEFORMAT", 0x0},
        {"DTS_LONGDATEFORMAT", 0x4},
        {"DTS_TIMEFORMAT", 0x9},
        // Version records.
        {"VS_VERSION_INFO", 1},
        {"VS_FFI_FILEFLAGSMASK", 0x3F},
        {"VS_FF_DEBUG", 0x1},
        {"VS_FF_PRERELEASE", 0x2},
        {"VS_FF_PATCHED", 0x4},
        {"VS_FF_PRIVATEBUILD", 0x8},
        {"VS_FF_INFOINFERRED", 0x10},
        {"VS_FF_SPECIALBUILD", 0x20},
        {"VOS_UNKNOWN", 0x0},
        {"VOS_NT", 0x40000},
        {"VOS__WINDOWS32", 0x4},
        {"VOS_NT_WINDOWS32", 0x40004},
        {"VFT_UNKNOWN", 0x0},
        {"VFT_APP", 0x1},
        {"VFT_DLL", 0x2},
        {"VFT_DRV", 0x3},
        {"VFT_FONT", 0x4},
        {"VFT2_UNKNOWN", 0x0},
        {"VFT2_DRV_SYSTEM", 0x7},
        // Languages.
        {"LANG_NEUTRAL", 0x00},
        {"LANG_ENGLISH", 0x09},
        {"LANG_GERMAN", 0x07},
        {"LANG_FRENCH", 0x0C},
        {"LANG_JAPANESE", 0x11},
        {"LANG_CHINESE", 0x04},
        {"LANG_KOREAN", 0x12},
        {"LANG_SPANISH", 0x0A},
        {"LANG_ITALIAN", 0x10},
        {"SUBLANG_NEUTRAL", 0x00},
        {"SUBLANG_DEFAULT", 0x01},
        {"SUBLANG_SYS_DEFAULT", 0x02},
        {"SUBLANG_ENGLISH_US", 0x01},
        {"SUBLANG_ENGLISH_UK", 0x02},
        {"SUBLANG_CHINESE_TRADITIONAL", 0x01},
        {"SUBLANG_CHINESE_SIMPLIFIED", 0x02},
        {"SUBLANG_GERMAN", 0x01},
        {"SUBLANG_FRENCH", 0x01},
        {"SUBLANG_JAPANESE_JAPAN", 0x01},
        // Dialog result ids.
        {"IDOK", 1},
        {"IDCANCEL", 2},
        {"IDABORT", 3},
        {"IDRETRY", 4},
        {"IDIGNORE", 5},
        {"IDYES", 6},
        {"IDNO", 7},
        {"IDCLOSE", 8},
        {"IDHELP", 9},
        {"IDC_STATIC", -1},
    };
    return table;
}

enum class Tok { End, Number, String, Ident, Punct };

struct Token {
    Tok kind = Tok::End;
    std::string text; // identifier or punctuation; string content (UTF-8, escapes resolved)
    int64_t value = 0;
    std::string file;
    int line = 0;
};

std::string Upper(std::string s) {
    for (auto& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw CompileError(path + ": cannot open");
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool FileExists(const std::string& path) {
    return static_cast<bool>(std::ifstream(path));
}

// Splits one file into tokens; preprocessor lines are handled by the caller through the callback.
class Lexer {
public:
    Lexer(std::string file, std::string text) : m_file(std::move(file)), m_text(std::move(text)) {}

    // Returns the tokens; every "#..." line is handed to `directive` as its text.
    template <class F> std::vector<Token> Run(F&& directive) {
        std::vector<Token> tokens;
        while (m_pos < m_text.size()) {
            char c = m_text[m_pos];
            if (c == '\n') {
                ++m_line;
                ++m_pos;
                m_lineStart = true;
                continue;
            }
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++m_pos;
                continue;
            }
            if (c == '/' && Peek(1) == '/') {
                SkipLine();
                continue;
            }
            if (c == '/' && Peek(1) == '*') {
                m_pos += 2;
                while (m_pos < m_text.size() && !(m_text[m_pos] == '*' && Peek(1) == '/')) {
                    if (m_text[m_pos] == '\n')
                        ++m_line;
                    ++m_pos;
                }
                m_pos += 2;
                continue;
            }
            if (c == '#' && m_lineStart) {
                size_t start = m_pos;
                SkipLine();
                directive(m_text.substr(start, m_pos - start), m_line);
                continue;
            }
            m_lineStart = false;
            Token token;
            token.file = m_file;
            token.line = m_line;
            if (c == '"') {
                token.kind = Tok::String;
                token.text = LexString();
            } else if (std::isdigit(static_cast<unsigned char>(c))) {
                token.kind = Tok::Number;
                token.value = LexNumber();
            } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
                token.kind = Tok::Ident;
                while (m_pos < m_text.size() &&
                       (std::isalnum(static_cast<unsigned char>(m_text[m_pos])) || m_text[m_pos] == '_'))
                    token.text += m_text[m_pos++];
            } else {
                token.kind = Tok::Punct;
                token.text = std::string(1, c);
                ++m_pos;
            }
            tokens.push_back(std::move(token));
        }
        return tokens;
    }

private:
    char Peek(size_t ahead) const { return m_pos + ahead < m_text.size() ? m_text[m_pos + ahead] : '\0'; }

    void SkipLine() {
        while (m_pos < m_text.size() && m_text[m_pos] != '\n')
            ++m_pos;
    }

    [[noreturn]] void Fail(const std::string& message) const {
        throw CompileError(m_file + ":" + std::to_string(m_line) + ": " + message);
    }

    int64_t LexNumber() {
        int64_t value = 0;
        if (m_text[m_pos] == '0' && (Peek(1) == 'x' || Peek(1) == 'X')) {
            m_pos += 2;
            if (!std::isxdigit(static_cast<unsigned char>(Peek(0))))
                Fail("bad hexadecimal number");
            while (m_pos < m_text.size() && std::isxdigit(static_cast<unsigned char>(m_text[m_pos]))) {
                char d = m_text[m_pos++];
                value =
                    value * 16 + (std::isdigit(static_cast<unsigned char>(d)) ? d - '0' : (std::tolower(d) - 'a' + 10));
            }
        } else {
            while (m_pos < m_text.size() && std::isdigit(static_cast<unsigned char>(m_text[m_pos])))
                value = value * 10 + (m_text[m_pos++] - '0');
        }
        while (m_pos < m_text.size() &&
               (m_text[m_pos] == 'L' || m_text[m_pos] == 'l' || m_text[m_pos] == 'U' || m_text[m_pos] == 'u'))
            ++m_pos;
        return value;
    }

    std::string LexString() {
        std::string out;
        ++m_pos; // opening quote
        for (;;) {
            if (m_pos >= m_text.size() || m_text[m_pos] == '\n')
                Fail("unterminated string");
            char c = m_text[m_pos++];
            if (c == '"') {
                if (Peek(0) == '"') { // "" is a quote, as resource scripts write it
                    out += '"';
                    ++m_pos;
                    continue;
                }
                return out;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            char e = m_text[m_pos++];
            switch (e) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'a':
                out += '\a';
                break;
            case '0':
                out += '\0';
                break;
            case '\\':
                out += '\\';
                break;
            case '"':
                out += '"';
                break;
            case 'x': {
                uint32_t cp = 0;
                int digits = 0;
                while (digits < 4 && std::isxdigit(static_cast<unsigned char>(Peek(0)))) {
                    char d = m_text[m_pos++];
                    cp = cp * 16 +
                         (std::isdigit(static_cast<unsigned char>(d)) ? d - '0' : (std::tolower(d) - 'a' + 10));
                    ++digits;
                }
                if (digits == 0)
                    Fail("bad \\x escape");
                AppendUtf8(out, cp);
                break;
            }
            default:
                Fail(std::string("unknown escape \\") + e);
            }
        }
    }

    std::string m_file;
    std::string m_text;
    size_t m_pos = 0;
    int m_line = 1;
    bool m_lineStart = true;
};

// Little-endian record writer.
struct Bytes {
    std::vector<uint8_t> data;
    void U8(uint8_t v) { data.push_back(v); }
    void U16(uint32_t v) {
        data.push_back(static_cast<uint8_t>(v));
        data.push_back(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v) {
        U16(v & 0xFFFF);
        U16(v >> 16);
    }
    void Text(const std::u16string& s) {
        for (char16_t c : s)
            U16(c);
        U16(0);
    }
    void Align4() {
        while (data.size() % 4)
            data.push_back(0);
    }
    void Patch16(size_t offset, uint32_t v) {
        data[offset] = static_cast<uint8_t>(v);
        data[offset + 1] = static_cast<uint8_t>(v >> 8);
    }
};

struct VersionNode {
    std::u16string key;
    bool isText = true;
    std::u16string text;
    std::vector<uint16_t> words;
    std::vector<VersionNode> children;
};

struct DialogItem {
    uint32_t style = 0, exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    uint16_t id = 0;
    uint16_t classOrdinal = 0;
    std::u16string className;
    bool titleIsOrdinal = false;
    uint16_t titleOrdinal = 0;
    std::u16string title;
};

struct MenuItem {
    uint16_t flags = 0;
    uint16_t id = 0;
    std::u16string text;
    bool popup = false;
    std::vector<MenuItem> children;
};

class Parser {
public:
    Parser(std::vector<Token> tokens, std::map<std::string, std::vector<Token>> defines, const Options& options,
           std::string scriptDir, Compiled& out)
        : m_tokens(std::move(tokens)), m_defines(std::move(defines)), m_options(options),
          m_scriptDir(std::move(scriptDir)), m_out(out) {}

    void Run() {
        while (!AtEnd())
            Statement();
    }

private:
    bool AtEnd() const { return m_pos >= m_tokens.size(); }
    const Token& Cur() const {
        static const Token end;
        return AtEnd() ? end : m_tokens[m_pos];
    }
    [[noreturn]] void Fail(const std::string& message) const {
        const Token& at = AtEnd() ? (m_tokens.empty() ? Cur() : m_tokens.back()) : Cur();
        throw CompileError(at.file + ":" + std::to_string(at.line) + ": " + message);
    }
    bool IsIdent(const char* word) const { return Cur().kind == Tok::Ident && Upper(Cur().text) == word; }
    bool IsPunct(const char* p) const { return Cur().kind == Tok::Punct && Cur().text == p; }
    bool Accept(const char* p) {
        if (!IsPunct(p))
            return false;
        ++m_pos;
        return true;
    }
    void Expect(const char* p) {
        if (!Accept(p))
            Fail(std::string("expected '") + p + "'");
    }
    void SkipComma() { Accept(","); }
    bool IsBegin() const { return IsIdent("BEGIN") || IsPunct("{"); }
    bool IsEndOfBlock() const { return IsIdent("END") || IsPunct("}"); }
    void ExpectBegin() {
        if (!IsBegin())
            Fail("expected BEGIN");
        ++m_pos;
    }
    void ExpectEnd() {
        if (!IsEndOfBlock())
            Fail("expected END");
        ++m_pos;
    }
    std::string ExpectString() {
        if (Cur().kind != Tok::String)
            Fail("expected a string");
        return m_tokens[m_pos++].text;
    }
    bool IsDefined(const std::string& name) const { return m_defines.count(name) || Builtins().count(name); }
    bool StartsExpression() const {
        const Token& t = Cur();
        if (t.kind == Tok::Number)
            return true;
        if (t.kind == Tok::Ident)
            return IsDefined(t.text) || Upper(t.text) == "NOT";
        return t.kind == Tok::Punct && (t.text == "(" || t.text == "-" || t.text == "~");
    }

    int64_t Primary(int depth = 0) {
        if (depth > 64)
            Fail("definitions nest too deeply");
        const Token t = Cur();
        if (t.kind == Tok::Number) {
            ++m_pos;
            return t.value;
        }
        if (t.kind == Tok::Punct && t.text == "(") {
            ++m_pos;
            int64_t v = Expression();
            Expect(")");
            return v;
        }
        if (t.kind == Tok::Punct && t.text == "-") {
            ++m_pos;
            return -Primary(depth + 1);
        }
        if (t.kind == Tok::Punct && t.text == "~") {
            ++m_pos;
            return ~Primary(depth + 1);
        }
        if (t.kind == Tok::Ident) {
            auto define = m_defines.find(t.text);
            if (define != m_defines.end()) {
                ++m_pos;
                Parser sub(define->second, m_defines, m_options, m_scriptDir, m_out);
                if (sub.AtEnd())
                    Fail("'" + t.text + "' has no value");
                int64_t v = sub.Expression();
                if (!sub.AtEnd())
                    Fail("'" + t.text + "' is not a plain value");
                return v;
            }
            auto builtin = Builtins().find(t.text);
            if (builtin != Builtins().end()) {
                ++m_pos;
                return builtin->second;
            }
            Fail("unknown name '" + t.text + "'");
        }
        Fail("expected a value");
    }

    // Values joined by | + - from left to right; NOT clears the bits of the value that follows it.
    int64_t Expression(int64_t initial = 0) {
        int64_t value = initial;
        char op = '|';
        for (;;) {
            if (IsIdent("NOT")) {
                ++m_pos;
                value &= ~Primary();
            } else {
                int64_t rhs = Primary();
                value = op == '|' ? (value | rhs) : op == '+' ? value + rhs : value - rhs;
            }
            if (!(IsPunct("|") || IsPunct("+") || IsPunct("-")))
                return value;
            op = Cur().text[0];
            ++m_pos;
        }
    }

    uint16_t Word(int64_t v) const { return static_cast<uint16_t>(v); }

    ResourceName NameToken() {
        ResourceName name;
        if (Cur().kind == Tok::Ident && !IsDefined(Cur().text)) {
            name.isInteger = false;
            name.name = Utf8ToUtf16(Upper(m_tokens[m_pos++].text));
            return name;
        }
        if (Cur().kind == Tok::String) {
            name.isInteger = false;
            name.name = Utf8ToUtf16(Upper(m_tokens[m_pos++].text));
            return name;
        }
        name.id = Word(Expression());
        return name;
    }

    void Add(ResourceName type, ResourceName name, std::vector<uint8_t> data, bool isVersion = false) {
        Resource resource;
        resource.type = std::move(type);
        resource.name = std::move(name);
        resource.language = m_language;
        resource.data = std::move(data);
        resource.isVersion = isVersion;
        for (const auto& existing : m_out.resources) {
            if (existing.type.isInteger == resource.type.isInteger && existing.type.id == resource.type.id &&
                existing.type.name == resource.type.name && existing.name.isInteger == resource.name.isInteger &&
                existing.name.id == resource.name.id && existing.name.name == resource.name.name &&
                existing.language == resource.language)
                Fail("resource defined twice");
        }
        m_out.resources.push_back(std::move(resource));
    }

    static ResourceName IntName(uint16_t id) {
        ResourceName name;
        name.id = id;
        return name;
    }

    void Statement() {
        if (IsIdent("LANGUAGE")) {
            ++m_pos;
            int64_t primary = Expression();
            if (Accept(","))
                m_language = static_cast<uint16_t>((Expression() << 10) | primary);
            else
                m_language = Word(primary);
            return;
        }
        if (IsIdent("STRINGTABLE")) {
            ++m_pos;
            StringTable();
            return;
        }
        ResourceName name = NameToken();
        if (Cur().kind != Tok::Ident && Cur().kind != Tok::Number)
            Fail("expected a resource type");
        if (IsIdent("VERSIONINFO")) {
            ++m_pos;
            Add(IntName(16), name, VersionInfo(), true);
            return;
        }
        if (IsIdent("DIALOG") || IsIdent("DIALOGEX")) {
            ++m_pos;
            Add(IntName(5), name, Dialog());
            return;
        }
        if (IsIdent("MENU") || IsIdent("MENUEX")) {
            ++m_pos;
            Add(IntName(4), name, Menu());
            return;
        }
        ResourceName type;
        bool bitmap = false;
        if (IsIdent("ICON")) {
            type = IntName(14);
            ++m_pos;
        } else if (IsIdent("CURSOR")) {
            type = IntName(12);
            ++m_pos;
        } else if (IsIdent("BITMAP")) {
            type = IntName(2);
            bitmap = true;
            ++m_pos;
        } else if (IsIdent("RCDATA")) {
            type = IntName(10);
            ++m_pos;
        } else {
            type = NameToken();
        }
        // Optional memory flags of old scripts mean nothing here.
        while (IsIdent("PRELOAD") || IsIdent("LOADONCALL") || IsIdent("MOVEABLE") || IsIdent("DISCARDABLE") ||
               IsIdent("FIXED") || IsIdent("PURE") || IsIdent("IMPURE"))
            ++m_pos;
        std::vector<uint8_t> data = FileData(ExpectString());
        if (bitmap && data.size() >= 14 && data[0] == 'B' && data[1] == 'M')
            data.erase(data.begin(), data.begin() + 14); // a bitmap resource is the DIB without its file header
        Add(type, name, std::move(data));
    }

    std::string Substitute(const std::string& path) {
        std::string out;
        for (size_t i = 0; i < path.size(); ++i) {
            if (path[i] == '$' && i + 1 < path.size() && path[i + 1] == '{') {
                size_t close = path.find('}', i);
                if (close == std::string::npos)
                    Fail("unterminated ${ in '" + path + "'");
                std::string variable = path.substr(i + 2, close - i - 2);
                auto it = m_options.variables.find(variable);
                if (it == m_options.variables.end())
                    Fail("variable '" + variable + "' is not given (-D " + variable + "=...)");
                out += it->second;
                i = close;
                continue;
            }
            out += path[i];
        }
        return out;
    }

    std::vector<uint8_t> FileData(const std::string& written) {
        std::string path = Substitute(written);
        if (!path.empty() && path[0] != '/')
            path = m_scriptDir + "/" + path;
        std::ifstream in(path, std::ios::binary);
        if (!in)
            Fail("cannot read '" + path + "'");
        m_out.dependencies.push_back(path);
        return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    void StringTable() {
        while (!IsBegin() && !AtEnd())
            ++m_pos; // options (LANGUAGE is not taken here; write it before the table)
        ExpectBegin();
        std::map<uint16_t, std::u16string> strings;
        while (!IsEndOfBlock()) {
            if (AtEnd())
                Fail("STRINGTABLE without END");
            uint16_t id = Word(Expression());
            SkipComma();
            std::u16string text = Utf8ToUtf16(ExpectString());
            while (Cur().kind == Tok::String) // adjacent strings join
                text += Utf8ToUtf16(ExpectString());
            if (!strings.emplace(id, text).second)
                Fail("string " + std::to_string(id) + " defined twice");
        }
        ExpectEnd();
        std::map<uint16_t, std::map<uint16_t, std::u16string>> blocks;
        for (auto& [id, text] : strings) {
            if (text.size() > 0xFFFF)
                Fail("string " + std::to_string(id) + " is too long");
            blocks[static_cast<uint16_t>((id >> 4) + 1)][static_cast<uint16_t>(id & 15)] = text;
        }
        for (auto& [block, entries] : blocks) {
            // Blocks of several STRINGTABLEs merge, as they do in a Windows module.
            Resource* existing = nullptr;
            for (auto& r : m_out.resources) {
                if (r.type.isInteger && r.type.id == 6 && r.name.isInteger && r.name.id == block &&
                    r.language == m_language)
                    existing = &r;
            }
            std::vector<std::u16string> slots(16);
            if (existing) {
                size_t offset = 0;
                for (auto& slot : slots) {
                    uint16_t length = static_cast<uint16_t>(existing->data[offset] | (existing->data[offset + 1] << 8));
                    offset += 2;
                    for (uint16_t i = 0; i < length; ++i, offset += 2)
                        slot += static_cast<char16_t>(existing->data[offset] | (existing->data[offset + 1] << 8));
                }
            }
            for (auto& [index, text] : entries) {
                if (!slots[index].empty())
                    Fail("string " + std::to_string((block - 1) * 16 + index) + " defined twice");
                slots[index] = text;
            }
            Bytes bytes;
            for (auto& slot : slots) {
                bytes.U16(static_cast<uint32_t>(slot.size()));
                for (char16_t c : slot)
                    bytes.U16(c);
            }
            if (existing)
                existing->data = std::move(bytes.data);
            else
                Add(IntName(6), IntName(block), std::move(bytes.data));
        }
    }

    std::vector<int64_t> NumberList(size_t count) {
        std::vector<int64_t> values;
        for (size_t i = 0; i < count; ++i) {
            if (i > 0)
                Expect(",");
            values.push_back(Expression());
        }
        return values;
    }

    void VersionBlock(VersionNode& node) {
        ExpectBegin();
        while (!IsEndOfBlock()) {
            if (AtEnd())
                Fail("BLOCK without END");
            VersionNode child;
            if (IsIdent("BLOCK")) {
                ++m_pos;
                child.key = Utf8ToUtf16(ExpectString());
                VersionBlock(child);
            } else if (IsIdent("VALUE")) {
                ++m_pos;
                child.key = Utf8ToUtf16(ExpectString());
                if (Accept(",") && Cur().kind == Tok::String) {
                    child.text = Utf8ToUtf16(ExpectString());
                    while (Cur().kind == Tok::String)
                        child.text += Utf8ToUtf16(ExpectString());
                } else {
                    child.isText = false;
                    child.words.push_back(Word(Expression()));
                    while (Accept(","))
                        child.words.push_back(Word(Expression()));
                }
            } else {
                Fail("expected BLOCK or VALUE");
            }
            node.children.push_back(std::move(child));
        }
        ExpectEnd();
    }

    static void WriteVersionNode(Bytes& out, const VersionNode& node, const std::vector<uint8_t>* fixed) {
        out.Align4();
        const size_t start = out.data.size();
        out.U16(0); // length, patched below
        if (fixed) {
            out.U16(static_cast<uint32_t>(fixed->size()));
            out.U16(0);
        } else if (!node.children.empty() || node.isText) {
            // Text values count characters with the terminator; blocks have none.
            out.U16(node.children.empty() ? static_cast<uint32_t>(node.text.size() + 1) : 0);
            out.U16(1);
        } else {
            out.U16(static_cast<uint32_t>(node.words.size() * 2));
            out.U16(0);
        }
        out.Text(node.key);
        out.Align4();
        if (fixed) {
            out.data.insert(out.data.end(), fixed->begin(), fixed->end());
        } else if (node.children.empty() && node.isText) {
            out.Text(node.text);
        } else {
            for (uint16_t w : node.words)
                out.U16(w);
        }
        for (const auto& child : node.children)
            WriteVersionNode(out, child, nullptr);
        out.Patch16(start, static_cast<uint32_t>(out.data.size() - start));
    }

    std::vector<uint8_t> VersionInfo() {
        uint32_t fileMS = 0, fileLS = 0, productMS = 0, productLS = 0;
        uint32_t flagsMask = 0, flags = 0, os = 0, fileType = 0, subtype = 0;
        while (!IsBegin()) {
            if (AtEnd())
                Fail("VERSIONINFO without BEGIN");
            if (IsIdent("FILEVERSION") || IsIdent("PRODUCTVERSION")) {
                bool file = IsIdent("FILEVERSION");
                ++m_pos;
                auto v = NumberList(4);
                uint32_t ms = static_cast<uint32_t>(((v[0] & 0xFFFF) << 16) | (v[1] & 0xFFFF));
                uint32_t ls = static_cast<uint32_t>(((v[2] & 0xFFFF) << 16) | (v[3] & 0xFFFF));
                (file ? fileMS : productMS) = ms;
                (file ? fileLS : productLS) = ls;
            } else if (IsIdent("FILEFLAGSMASK")) {
                ++m_pos;
                flagsMask = static_cast<uint32_t>(Expression());
            } else if (IsIdent("FILEFLAGS")) {
                ++m_pos;
                flags = static_cast<uint32_t>(Expression());
            } else if (IsIdent("FILEOS")) {
                ++m_pos;
                os = static_cast<uint32_t>(Expression());
            } else if (IsIdent("FILETYPE")) {
                ++m_pos;
                fileType = static_cast<uint32_t>(Expression());
            } else if (IsIdent("FILESUBTYPE")) {
                ++m_pos;
                subtype = static_cast<uint32_t>(Expression());
            } else {
                Fail("unknown VERSIONINFO statement");
            }
        }
        VersionNode root;
        root.key = u"VS_VERSION_INFO";
        root.isText = false;
        VersionBlock(root);
        Bytes fixed;
        for (uint32_t v : {0xFEEF04BDu, 0x00010000u, fileMS, fileLS, productMS, productLS, flagsMask, flags, os,
                           fileType, subtype, 0u, 0u})
            fixed.U32(v);
        Bytes out;
        WriteVersionNode(out, root, &fixed.data);
        return out.data;
    }

    struct ControlKind {
        const char* keyword;
        uint16_t classOrdinal;
        uint32_t style;
        bool hasText;
    };

    static const ControlKind* FindControlKind(const std::string& keyword) {
        static const ControlKind kinds[] = {
            {"LTEXT", 0x82, 0x00020000 | 0x0, true},
            {"RTEXT", 0x82, 0x00020000 | 0x2, true},
            {"CTEXT", 0x82, 0x00020000 | 0x1, true},
            {"PUSHBUTTON", 0x80, 0x00010000 | 0x0, true},
            {"DEFPUSHBUTTON", 0x80, 0x00010000 | 0x1, true},
            {"GROUPBOX", 0x80, 0x7, true},
            {"CHECKBOX", 0x80, 0x00010000 | 0x2, true},
            {"AUTOCHECKBOX", 0x80, 0x00010000 | 0x3, true},
            {"RADIOBUTTON", 0x80, 0x4, true},
            {"AUTORADIOBUTTON", 0x80, 0x9, true},
            {"STATE3", 0x80, 0x00010000 | 0x5, true},
            {"AUTO3STATE", 0x80, 0x00010000 | 0x6, true},
            {"EDITTEXT", 0x81, 0x00810000, false},
            {"COMBOBOX", 0x85, 0x00010000 | 0x1, false},
            {"LISTBOX", 0x83, 0x00800000 | 0x1, false},
            {"SCROLLBAR", 0x84, 0x0, false},
            {"ICON", 0x82, 0x3, true},
        };
        for (const auto& kind : kinds) {
            if (keyword == kind.keyword)
                return &kind;
        }
        return nullptr;
    }

    static uint16_t ClassOrdinal(const std::string& name) {
        const std::string upper = Upper(name);
        if (upper == "BUTTON")
            return 0x80;
        if (upper == "EDIT")
            return 0x81;
        if (upper == "STATIC")
            return 0x82;
        if (upper == "LISTBOX")
            return 0x83;
        if (upper == "SCROLLBAR")
            return 0x84;
        if (upper == "COMBOBOX")
            return 0x85;
        return 0;
    }

    void ControlText(DialogItem& item) {
        if (Cur().kind == Tok::String) {
            item.title = Utf8ToUtf16(ExpectString());
        } else {
            item.titleIsOrdinal = true;
            item.titleOrdinal = Word(Expression());
        }
    }

    void ControlRect(DialogItem& item) {
        auto v = NumberList(4);
        item.x = static_cast<int16_t>(v[0]);
        item.y = static_cast<int16_t>(v[1]);
        item.cx = static_cast<int16_t>(v[2]);
        item.cy = static_cast<int16_t>(v[3]);
    }

    DialogItem Control() {
        constexpr uint32_t kChildVisible = 0x40000000 | 0x10000000;
        DialogItem item;
        const std::string keyword = Upper(Cur().text);
        ++m_pos;
        if (keyword == "CONTROL") {
            ControlText(item);
            Expect(",");
            item.id = Word(Expression());
            Expect(",");
            std::string className;
            if (Cur().kind == Tok::String || Cur().kind == Tok::Ident)
                className = m_tokens[m_pos++].text;
            else
                Fail("expected a window class");
            item.classOrdinal = ClassOrdinal(className);
            if (!item.classOrdinal)
                item.className = Utf8ToUtf16(className);
            Expect(",");
            // The style adds to WS_CHILD | WS_VISIBLE, which NOT can clear.
            int64_t style = Expression(kChildVisible);
            item.style = static_cast<uint32_t>(style);
            Expect(",");
            ControlRect(item);
            if (Accept(","))
                item.exStyle = static_cast<uint32_t>(Expression());
            return item;
        }
        const ControlKind* kind = FindControlKind(keyword);
        if (!kind)
            Fail("unknown control '" + keyword + "'");
        item.classOrdinal = kind->classOrdinal;
        if (kind->hasText) {
            ControlText(item);
            Expect(",");
        }
        item.id = Word(Expression());
        Expect(",");
        if (keyword == "ICON") {
            auto v = NumberList(2);
            item.x = static_cast<int16_t>(v[0]);
            item.y = static_cast<int16_t>(v[1]);
            if (Accept(",")) {
                item.cx = static_cast<int16_t>(Expression());
                Expect(",");
                item.cy = static_cast<int16_t>(Expression());
            }
        } else {
            ControlRect(item);
        }
        int64_t style = kChildVisible | kind->style;
        if (Accept(",")) {
            style = Expression(style);
            if (Accept(","))
                item.exStyle = static_cast<uint32_t>(Expression());
        }
        item.style = static_cast<uint32_t>(style);
        return item;
    }

    std::vector<uint8_t> Dialog() {
        constexpr uint32_t kDefaultStyle = 0x80000000 | 0x00800000 | 0x00080000; // WS_POPUP|WS_BORDER|WS_SYSMENU
        constexpr uint32_t kCaption = 0x00C00000;
        constexpr uint32_t kSetFont = 0x40;
        auto rect = NumberList(4);
        uint32_t style = kDefaultStyle, exStyle = 0;
        bool styleGiven = false;
        std::u16string caption, fontName, className, menuName;
        uint16_t menuId = 0, pointSize = 0;
        bool hasFont = false;
        while (!IsBegin()) {
            if (AtEnd())
                Fail("DIALOG without BEGIN");
            if (IsIdent("STYLE")) {
                ++m_pos;
                style = static_cast<uint32_t>(Expression());
                styleGiven = true;
            } else if (IsIdent("EXSTYLE")) {
                ++m_pos;
                exStyle = static_cast<uint32_t>(Expression());
            } else if (IsIdent("CAPTION")) {
                ++m_pos;
                caption = Utf8ToUtf16(ExpectString());
            } else if (IsIdent("FONT")) {
                ++m_pos;
                pointSize = Word(Expression());
                Expect(",");
                fontName = Utf8ToUtf16(ExpectString());
                hasFont = true;
                while (Accept(","))
                    Expression(); // weight, italic and character set are not kept in this layout
            } else if (IsIdent("MENU")) {
                ++m_pos;
                ResourceName menu = NameToken();
                menuId = menu.isInteger ? menu.id : 0;
                menuName = menu.name;
            } else if (IsIdent("CLASS")) {
                ++m_pos;
                className = Utf8ToUtf16(ExpectString());
            } else if (IsIdent("CHARACTERISTICS") || IsIdent("VERSION")) {
                ++m_pos;
                Expression();
            } else if (IsIdent("LANGUAGE")) {
                Fail("write LANGUAGE before the dialog");
            } else {
                Fail("unknown DIALOG statement '" + Cur().text + "'");
            }
        }
        if (!caption.empty() && !styleGiven)
            style |= kCaption;
        if (hasFont)
            style |= kSetFont;
        ExpectBegin();
        std::vector<DialogItem> items;
        while (!IsEndOfBlock()) {
            if (AtEnd() || Cur().kind != Tok::Ident)
                Fail("expected a control");
            items.push_back(Control());
        }
        ExpectEnd();
        Bytes out;
        out.U32(style);
        out.U32(exStyle);
        out.U16(static_cast<uint32_t>(items.size()));
        for (int64_t v : rect)
            out.U16(static_cast<uint32_t>(v & 0xFFFF));
        if (menuId) {
            out.U16(0xFFFF);
            out.U16(menuId);
        } else if (!menuName.empty()) {
            out.Text(menuName);
        } else {
            out.U16(0);
        }
        if (className.empty())
            out.U16(0);
        else
            out.Text(className);
        out.Text(caption);
        if (style & kSetFont) {
            out.U16(pointSize);
            out.Text(fontName);
        }
        for (const auto& item : items) {
            out.Align4();
            out.U32(item.style);
            out.U32(item.exStyle);
            out.U16(static_cast<uint16_t>(item.x));
            out.U16(static_cast<uint16_t>(item.y));
            out.U16(static_cast<uint16_t>(item.cx));
            out.U16(static_cast<uint16_t>(item.cy));
            out.U16(item.id);
            if (item.classOrdinal) {
                out.U16(0xFFFF);
                out.U16(item.classOrdinal);
            } else {
                out.Text(item.className);
            }
            if (item.titleIsOrdinal) {
                out.U16(0xFFFF);
                out.U16(item.titleOrdinal);
            } else {
                out.Text(item.title);
            }
            out.U16(0); // no creation data
        }
        return out.data;
    }

    uint16_t MenuOptions() {
        uint16_t flags = 0;
        for (;;) {
            Accept(",");
            if (IsIdent("GRAYED"))
                flags |= 0x1;
            else if (IsIdent("INACTIVE"))
                flags |= 0x2;
            else if (IsIdent("CHECKED"))
                flags |= 0x8;
            else if (IsIdent("MENUBARBREAK"))
                flags |= 0x20;
            else if (IsIdent("MENUBREAK"))
                flags |= 0x40;
            else if (IsIdent("HELP"))
                flags |= 0x4000;
            else
                return flags;
            ++m_pos;
        }
    }

    void MenuItems(std::vector<MenuItem>& items, int depth) {
        if (depth > 16)
            Fail("menus nest too deeply");
        ExpectBegin();
        while (!IsEndOfBlock()) {
            if (AtEnd())
                Fail("MENU without END");
            MenuItem item;
            if (IsIdent("POPUP")) {
                ++m_pos;
                item.popup = true;
                item.text = Utf8ToUtf16(ExpectString());
                item.flags = MenuOptions();
                MenuItems(item.children, depth + 1);
            } else if (IsIdent("MENUITEM")) {
                ++m_pos;
                if (IsIdent("SEPARATOR")) {
                    ++m_pos;
                } else {
                    item.text = Utf8ToUtf16(ExpectString());
                    Expect(",");
                    item.id = Word(Expression());
                    item.flags = MenuOptions();
                }
            } else {
                Fail("expected POPUP or MENUITEM");
            }
            items.push_back(std::move(item));
        }
        ExpectEnd();
    }

    static void WriteMenuItems(Bytes& out, const std::vector<MenuItem>& items) {
        for (size_t i = 0; i < items.size(); ++i) {
            const MenuItem& item = items[i];
            uint16_t option = item.flags;
            if (item.popup)
                option |= 0x10;
            if (i + 1 == items.size())
                option |= 0x80;
            out.U16(option);
            if (!item.popup)
                out.U16(item.id);
            out.Text(item.text);
            if (item.popup) {
                if (item.children.empty()) {
                    // An empty popup still needs an item list; an ending separator stands for none.
                    out.U16(0x80);
                    out.U16(0);
                    out.U16(0);
                } else {
                    WriteMenuItems(out, item.children);
                }
            }
        }
    }

    std::vector<uint8_t> Menu() {
        while (!IsBegin() && !AtEnd())
            ++m_pos;
        std::vector<MenuItem> items;
        MenuItems(items, 0);
        Bytes out;
        out.U16(0);
        out.U16(0);
        WriteMenuItems(out, items);
        return out.data;
    }

    std::vector<Token> m_tokens;
    std::map<std::string, std::vector<Token>> m_defines;
    const Options& m_options;
    std::string m_scriptDir;
    Compiled& m_out;
    size_t m_pos = 0;
    uint16_t m_language = 0x0409;
};

struct Preprocessor {
    const Options& options;
    Compiled& out;
    std::map<std::string, std::vector<Token>> defines;
    int depth = 0;

    std::string Resolve(const std::string& name, const std::string& fromDir) {
        if (!name.empty() && name[0] == '/')
            return name;
        if (FileExists(fromDir + "/" + name))
            return fromDir + "/" + name;
        for (const auto& dir : options.includeDirs) {
            if (FileExists(dir + "/" + name))
                return dir + "/" + name;
        }
        return std::string();
    }

    // Lexes a file; in a header (`keepTokens` false) only the #define lines count.
    std::vector<Token> Load(const std::string& path, bool keepTokens) {
        if (++depth > 16)
            throw CompileError(path + ": includes nest too deeply");
        out.dependencies.push_back(path);
        Lexer lexer(path, ReadFile(path));
        const std::string dir = DirectoryOf(path);
        std::vector<Token> tokens =
            lexer.Run([&](const std::string& line, int lineNumber) { Directive(line, path, lineNumber, dir); });
        --depth;
        return keepTokens ? tokens : std::vector<Token>();
    }

    void Directive(const std::string& line, const std::string& path, int lineNumber, const std::string& dir) {
        std::istringstream in(line.substr(1));
        std::string word;
        in >> word;
        if (word == "define") {
            std::string name;
            in >> name;
            std::string rest;
            std::getline(in, rest);
            Lexer lexer(path, rest);
            auto tokens = lexer.Run([](const std::string&, int) {});
            for (auto& t : tokens)
                t.line = lineNumber;
            if (!name.empty() && name.find('(') == std::string::npos)
                defines[name] = std::move(tokens);
            return;
        }
        if (word == "include") {
            std::string rest;
            std::getline(in, rest);
            size_t open = rest.find_first_of("\"<");
            size_t close = rest.find_last_of("\">");
            if (open == std::string::npos || close == std::string::npos || close <= open)
                throw CompileError(path + ":" + std::to_string(lineNumber) + ": bad #include");
            std::string name = rest.substr(open + 1, close - open - 1);
            std::string resolved = Resolve(name, dir);
            if (resolved.empty())
                throw CompileError(path + ":" + std::to_string(lineNumber) + ": cannot find '" + name + "'");
            Load(resolved, false);
            return;
        }
        // Header guards, pragmas and the like carry nothing for resources.
    }
};

} // namespace

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        uint32_t cp = 0xFFFD;
        size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 0;
        if (c < 0x80) {
            cp = c;
        } else if (extra && i + extra < text.size()) {
            cp = c & (0x3F >> extra);
            for (size_t k = 1; k <= extra; ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        i += 1 + extra;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

Compiled CompileScript(const std::string& path, const Options& options) {
    Compiled out;
    Preprocessor pre{options, out, {}, 0};
    std::vector<Token> tokens = pre.Load(path, true);
    Parser parser(std::move(tokens), std::move(pre.defines), options, DirectoryOf(path), out);
    parser.Run();
    return out;
}

} // namespace rescomp
