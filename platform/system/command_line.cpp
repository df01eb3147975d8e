#include "platform/system/command_line.h"

namespace platform::system {

namespace {

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

} // namespace

std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
    std::vector<std::u16string> arguments;
    size_t i = 0;
    while (i < line.size() && IsBlank(line[i]))
        ++i;
    if (i == line.size())
        return arguments;

    std::u16string program;
    bool quotedProgram = false;
    while (i < line.size() && (quotedProgram || !IsBlank(line[i]))) {
        if (line[i] == u'"')
            quotedProgram = !quotedProgram;
        else
            program.push_back(line[i]);
        ++i;
    }
    arguments.push_back(std::move(program));

    while (true) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i == line.size())
            return arguments;
        std::u16string argument;
        bool quoted = false;
        while (i < line.size() && (quoted || !IsBlank(line[i]))) {
            if (line[i] == u'\\') {
                size_t backslashes = 0;
                while (i < line.size() && line[i] == u'\\') {
                    ++backslashes;
                    ++i;
                }
                if (i < line.size() && line[i] == u'"') {
                    argument.append(backslashes / 2, u'\\');
                    if (backslashes % 2) {
                        argument.push_back(u'"');
                        ++i;
                    }
                } else {
                    argument.append(backslashes, u'\\');
                }
            } else if (line[i] == u'"') {
                if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
                    argument.push_back(u'"');
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                argument.push_back(line[i++]);
            }
        }
        arguments.push_back(std::move(argument));
    }
}

} // namespace platform::system
