// The preprocessor of resource scripts.

#include "tools/rescomp/Preprocessor.h"

#include <fstream>
#include <sstream>

namespace rescomp {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw CompileError(path + ": cannot open");
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

bool FileExists(const std::string& path) {
    return static_cast<bool>(std::ifstream(path));
}

} // namespace

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string Preprocessor::Resolve(const std::string& name, const std::string& fromDir) {
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

std::vector<Token> Preprocessor::Load(const std::string& path, bool keepTokens) {
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

void Preprocessor::Directive(const std::string& line, const std::string& path, int lineNumber, const std::string& dir) {
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

} // namespace rescomp
