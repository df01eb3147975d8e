// The lexer of resource scripts: numbers, strings, names and punctuation, with comments skipped and preprocessor
// lines handed back to the caller.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace rescomp {

enum class Tok { End, Number, String, Ident, Punct };

struct Token {
    Tok kind = Tok::End;
    std::string text; // identifier or punctuation; string content (UTF-8, escapes resolved)
    int64_t value = 0;
    std::string file;
    int line = 0;
};

// Splits one file into tokens; preprocessor lines are handled by the caller through the callback.
class Lexer {
public:
    Lexer(std::string file, std::string text) : m_file(std::move(file)), m_text(std::move(text)) {}

    // Returns the tokens; every "#..." line is handed to `directive` as its text, with its line number.
    std::vector<Token> Run(const std::function<void(const std::string&, int)>& directive);

private:
    char Peek(size_t ahead) const { return m_pos + ahead < m_text.size() ? m_text[m_pos + ahead] : '\0'; }
    void SkipLine();
    [[noreturn]] void Fail(const std::string& message) const;
    int64_t LexNumber();
    std::string LexString();

    std::string m_file;
    std::string m_text;
    size_t m_pos = 0;
    int m_line = 1;
    bool m_lineStart = true;
};

} // namespace rescomp
