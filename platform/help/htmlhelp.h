// HTML Help: HtmlHelpW, the call that shows a page of a compiled help file.
//
// Stands in for the help viewer. Every request is recorded in the order it was made, so that callers can be tested
// by what they asked for (platform::help::Requests). A request to show a topic ("file::/page.html" or the file
// alone) is handed to the desktop's opener (xdg-open with the help file's host path) only when the environment
// variable WINLAYER_DESKTOP_OPEN is "1", which the run script sets and tests never do.
//
// Differs: there is no help window, so the result is always null; a help file that does not exist fails the call
// with ERROR_FILE_NOT_FOUND after it was recorded. Only HH_DISPLAY_TOPIC is offered; other commands are recorded and
// fail with ERROR_NOT_SUPPORTED.
#pragma once

#include "platform/base/types.h"

#include <string>
#include <vector>

constexpr UINT HH_DISPLAY_TOPIC = 0x0000;

HWND HtmlHelpW(HWND caller, LPCWSTR file, UINT command, DWORD_PTR data);

namespace platform::help {

struct Request {
    HWND caller = nullptr;
    std::u16string file;
    UINT command = 0;
    DWORD_PTR data = 0;
};

// The requests made so far in this process, oldest first.
std::vector<Request> Requests();
void ClearRequests();

} // namespace platform::help
