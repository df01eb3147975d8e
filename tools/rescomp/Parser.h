// The parser of resource scripts: statements, expressions and the blocks of each resource kind. It reads a
// script's tokens and hands each resource's fields to the encoders (Encoders.h) for its binary record.
#pragma once

#include "tools/rescomp/Encoders.h"
#include "tools/rescomp/Lexer.h"
#include "tools/rescomp/Script.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace rescomp {

class Parser {
public:
    Parser(std::vector<Token> tokens, std::map<std::string, std::vector<Token>> defines, const Options& options,
           std::string scriptDir, Compiled& out)
        : m_tokens(std::move(tokens)), m_defines(std::move(defines)), m_options(options),
          m_scriptDir(std::move(scriptDir)), m_out(out) {}

    // Parses every statement, adding the resources to the output; throws CompileError on a fault.
    void Run();

private:
    bool AtEnd() const;
    const Token& Cur() const;
    [[noreturn]] void Fail(const std::string& message) const;
    bool IsIdent(const char* word) const;
    bool IsPunct(const char* p) const;
    bool Accept(const char* p);
    void Expect(const char* p);
    void SkipComma();
    bool IsBegin() const;
    bool IsEndOfBlock() const;
    void ExpectBegin();
    void ExpectEnd();
    std::string ExpectString();

    // Expressions.
    bool IsDefined(const std::string& name) const;
    bool StartsExpression() const;
    int64_t Primary(int depth = 0);
    // Values joined by | + - from left to right; NOT clears the bits of the value that follows it.
    int64_t Expression(int64_t initial = 0);
    uint16_t Word(int64_t v) const;
    std::vector<int64_t> NumberList(size_t count);

    // Statements.
    ResourceName NameToken();
    void Add(ResourceName type, ResourceName name, std::vector<uint8_t> data, bool isVersion = false);
    static ResourceName IntName(uint16_t id);
    void Statement();
    std::string Substitute(const std::string& path);
    std::vector<uint8_t> FileData(const std::string& written);

    // The blocks of each resource kind.
    void StringTable();
    void VersionBlock(VersionNode& node);
    std::vector<uint8_t> VersionInfo();
    void ControlText(DialogItem& item);
    void ControlRect(DialogItem& item);
    DialogItem Control();
    std::vector<uint8_t> Dialog();
    uint16_t MenuOptions();
    void MenuItems(std::vector<MenuItem>& items, int depth);
    std::vector<uint8_t> Menu();
    std::vector<uint8_t> Toolbar();

    std::vector<Token> m_tokens;
    std::map<std::string, std::vector<Token>> m_defines;
    const Options& m_options;
    std::string m_scriptDir;
    Compiled& m_out;
    size_t m_pos = 0;
    uint16_t m_language = 0x0409;
};

} // namespace rescomp
