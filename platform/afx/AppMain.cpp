// The program entry of framework programs (library winafx_main): runs the program's one application object.
#include "platform/afx/WinApp.h"

#include "platform/base/module.h"
#include "platform/base/strings.h"

#include <string>

namespace {

// The command line after the program name, as Windows hands it to the program: the arguments joined by blanks,
// quoted where they hold a blank or a tab.
std::u16string CommandTail(int argc, char** argv) {
    std::u16string tail;
    for (int i = 1; i < argc; ++i) {
        std::u16string arg = platform::Utf8ToUtf16(argv[i]);
        if (!tail.empty())
            tail += u' ';
        if (arg.empty() || arg.find_first_of(u" \t") != std::u16string::npos)
            tail += u'"' + arg + u'"';
        else
            tail += arg;
    }
    return tail;
}

} // namespace

int main(int argc, char** argv) {
    std::u16string tail = CommandTail(argc, argv);
    return AfxWinMain(GetModuleHandleW(nullptr), nullptr, tail.data(), 1 /* SW_SHOWNORMAL */);
}
