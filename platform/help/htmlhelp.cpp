#include "platform/help/htmlhelp.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"

#include <cstdlib>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

std::mutex g_lock;
std::vector<platform::help::Request> g_requests;

bool DesktopOpenerWanted() {
    const char* value = std::getenv("WINLAYER_DESKTOP_OPEN");
    return value && std::string(value) == "1";
}

// Starts the desktop's opener on a host file and does not wait for the viewer it starts.
void OpenOnDesktop(const std::string& hostPath) {
    const char* argv[] = {"xdg-open", hostPath.c_str(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, "xdg-open", nullptr, nullptr, const_cast<char* const*>(argv), environ) == 0) {
        // xdg-open hands the file to the viewer and returns; reap it so no zombie stays behind.
        int status = 0;
        waitpid(child, &status, 0);
    }
}

} // namespace

HWND HtmlHelpW(HWND caller, LPCWSTR file, UINT command, DWORD_PTR data) {
    platform::help::Request request;
    request.caller = caller;
    request.file = file ? file : u"";
    request.command = command;
    request.data = data;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        g_requests.push_back(request);
    }
    if (command != HH_DISPLAY_TOPIC) {
        platform::Fail(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    // "help.chm::/page.html": the file is the part before "::".
    std::u16string helpFile = request.file;
    if (const size_t split = helpFile.find(u"::"); split != std::u16string::npos)
        helpFile.resize(split);
    const DWORD attributes = GetFileAttributesW(helpFile.c_str());
    if (helpFile.empty() || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        platform::Fail(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (DesktopOpenerWanted()) {
        const auto host = platform::fs::ToHost(helpFile.c_str());
        if (host && host->kind == platform::fs::PathKind::File)
            OpenOnDesktop(host->path);
    }
    SetLastError(ERROR_SUCCESS);
    return nullptr;
}

namespace platform::help {

std::vector<Request> Requests() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_requests;
}

void ClearRequests() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_requests.clear();
}

} // namespace platform::help
