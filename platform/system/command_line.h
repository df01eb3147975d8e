// Splitting a Windows command line into arguments, as the C runtime does. Private to the system folder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform::system {

// The program name ends at the first blank outside quotes; its quotes are dropped and backslashes are literal. In the
// other arguments blanks separate outside quotes; 2n backslashes before a quote give n backslashes and the quote opens
// or closes quoting, 2n+1 give n backslashes and a literal quote; other backslashes are literal; two quotes inside
// quoting give one literal quote.
std::vector<std::u16string> SplitCommandLine(std::u16string_view commandLine);

} // namespace platform::system
