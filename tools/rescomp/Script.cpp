// Compiling a resource script: the preprocessor reads the files, the parser turns the tokens into resources.

#include "tools/rescomp/Script.h"

#include "tools/rescomp/Parser.h"
#include "tools/rescomp/Preprocessor.h"

namespace rescomp {

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
