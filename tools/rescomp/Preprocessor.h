// The preprocessor of resource scripts: #include and #define. An included file counts only for its #define lines;
// other directives (header guards, pragmas) carry nothing for resources.
#pragma once

#include "tools/rescomp/Lexer.h"
#include "tools/rescomp/Script.h"

#include <map>
#include <string>
#include <vector>

namespace rescomp {

struct Preprocessor {
    const Options& options;
    Compiled& out;
    std::map<std::string, std::vector<Token>> defines;
    int depth = 0;

    // Lexes a file; in a header (`keepTokens` false) only the #define lines count.
    std::vector<Token> Load(const std::string& path, bool keepTokens);

private:
    std::string Resolve(const std::string& name, const std::string& fromDir);
    void Directive(const std::string& line, const std::string& path, int lineNumber, const std::string& dir);
};

// The folder of a file's path ("." for a bare name).
std::string DirectoryOf(const std::string& path);

} // namespace rescomp
