// The lexer of resource scripts.

#include "tools/rescomp/Lexer.h"

#include "tools/rescomp/Script.h"

#include <cctype>

namespace rescomp {
namespace {

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

} // namespace

std::vector<Token> Lexer::Run(const std::function<void(const std::string&, int)>& directive) {
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

void Lexer::SkipLine() {
    while (m_pos < m_text.size() && m_text[m_pos] != '\n')
        ++m_pos;
}

void Lexer::Fail(const std::string& message) const {
    throw CompileError(m_file + ":" + std::to_string(m_line) + ": " + message);
}

int64_t Lexer::LexNumber() {
    int64_t value = 0;
    if (m_text[m_pos] == '0' && (Peek(1) == 'x' || Peek(1) == 'X')) {
        m_pos += 2;
        if (!std::isxdigit(static_cast<unsigned char>(Peek(0))))
            Fail("bad hexadecimal number");
        while (m_pos < m_text.size() && std::isxdigit(static_cast<unsigned char>(m_text[m_pos]))) {
            char d = m_text[m_pos++];
            value = value * 16 + (std::isdigit(static_cast<unsigned char>(d)) ? d - '0' : (std::tolower(d) - 'a' + 10));
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

std::string Lexer::LexString() {
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
                cp = cp * 16 + (std::isdigit(static_cast<unsigned char>(d)) ? d - '0' : (std::tolower(d) - 'a' + 10));
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

} // namespace rescomp
