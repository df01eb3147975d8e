// Message boxes, and the prompt hook that answers every prompt of the layer (message boxes, file dialogs, the
// folder browser) in place of a user.
//
// Stands in for MessageBoxW. The same as Windows: the box offers the buttons of its MB_ type (OK; OK, Cancel;
// Abort, Retry, Ignore; Yes, No, Cancel; Yes, No; Retry, Cancel; Cancel, Try Again, Continue) with the default
// button of MB_DEFBUTTONn, carries the icon of MB_ICON*, has the caption "Error" when none is given, and returns
// the id of the button chosen (0 with an error when it cannot be shown). It is a real dialog of the class
// "#32770" owned by the window given, with a static text and its buttons, so it can be found, closed with WM_CLOSE
// (IDCANCEL when it has a Cancel button, IDOK when its only button is OK) or saved as a picture.
//
// Where it differs: the session is headless, so prompts are answered by a hook that the program (a test)
// installs. The hook sees what a user would see and returns the answer: a button id, a file or folder path, or
// kRunModal to let the prompt run its own modal loop until something (another thread posting a click, a timer)
// ends it. Without a hook, when the windows are shown on a display (presenter.h), the user answers there: a
// message box runs as its dialog, file dialogs and the folder browser open the file chooser (file_chooser.h).
// Without either, each prompt is written to standard error and its default answer is taken (the default button;
// Cancel for file dialogs and the folder browser).
#pragma once

#include "platform/base/types.h"
#include "platform/ui/winuser_constants.h"

#include <functional>
#include <string>
#include <vector>

// Buttons.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
constexpr UINT MB_YESNOCANCEL = 0x00000003;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_RETRYCANCEL = 0x00000005;
constexpr UINT MB_CANCELTRYCONTINUE = 0x00000006;
constexpr UINT MB_TYPEMASK = 0x0000000F;
// Icons.
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONASTERISK = 0x00000040;
constexpr UINT MB_USERICON = 0x00000080;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONMASK = 0x000000F0;
// Default button.
constexpr UINT MB_DEFBUTTON1 = 0x00000000;
constexpr UINT MB_DEFBUTTON2 = 0x00000100;
constexpr UINT MB_DEFBUTTON3 = 0x00000200;
constexpr UINT MB_DEFBUTTON4 = 0x00000300;
constexpr UINT MB_DEFMASK = 0x00000F00;
// Modality and other flags (kept, shown to the hook).
constexpr UINT MB_APPLMODAL = 0x00000000;
constexpr UINT MB_SYSTEMMODAL = 0x00001000;
constexpr UINT MB_TASKMODAL = 0x00002000;
constexpr UINT MB_HELP = 0x00004000;
constexpr UINT MB_NOFOCUS = 0x00008000;
constexpr UINT MB_SETFOREGROUND = 0x00010000;
constexpr UINT MB_DEFAULT_DESKTOP_ONLY = 0x00020000;
constexpr UINT MB_TOPMOST = 0x00040000;
constexpr UINT MB_RIGHT = 0x00080000;
constexpr UINT MB_RTLREADING = 0x00100000;
constexpr UINT MB_SERVICE_NOTIFICATION = 0x00200000;
constexpr UINT MB_MODEMASK = 0x00003000;
constexpr UINT MB_MISCMASK = 0x0000C000;

constexpr int IDTRYAGAIN = 10;
constexpr int IDCONTINUE = 11;

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
int MessageBoxExW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type, WORD languageId);
BOOL MessageBeep(UINT type);

namespace platform::ui {

enum class PromptKind { MessageBox, OpenFile, SaveFile, BrowseFolder };

// What the user would see.
struct PromptInfo {
    PromptKind kind = PromptKind::MessageBox;
    HWND owner = nullptr;
    HWND window = nullptr; // the prompt's own window (message box, folder browser), null for file dialogs
    std::u16string caption;
    std::u16string text;       // the message; the folder browser's title; a file dialog's complaint about the
                               // previous answer ("... already exists", "File not found") when it asks again
    UINT style = 0;            // MB_* of a message box, OFN_* of a file dialog, BIF_* of the folder browser
    std::vector<int> buttons;  // message box: the button ids in order
    int defaultButton = 0;     // message box: the id Enter chooses
    std::u16string fileName;   // file dialogs: the name offered
    std::u16string initialDir; // file dialogs
    std::u16string defaultExt; // file dialogs
    std::vector<std::pair<std::u16string, std::u16string>> filters; // file dialogs: (description, pattern)
    DWORD filterIndex = 0;                                          // file dialogs: 1-based
    std::u16string selection; // folder browser: the folder selected when the hook is asked
    std::u16string status;    // folder browser: its status text
};

struct PromptReply {
    // Let the prompt run its own modal loop (message boxes and the folder browser).
    static constexpr int kRunModal = 0;

    int result = IDCANCEL; // the button id; IDOK or IDCANCEL for file dialogs and the folder browser
    std::u16string path;   // the chosen file or folder
    DWORD filterIndex = 0; // file dialogs: the filter chosen (0: unchanged)

    PromptReply() = default;
    PromptReply(int answer) : result(answer) {} // NOLINT(google-explicit-constructor): `return IDYES;`
    static PromptReply Path(std::u16string chosen) {
        PromptReply r(IDOK);
        r.path = std::move(chosen);
        return r;
    }
};

using PromptHook = std::function<PromptReply(const PromptInfo&)>;

// Installs the process-wide hook (an empty function removes it) and returns the previous one. The hook is called on
// the thread that shows the prompt, without any lock of the layer held.
PromptHook SetPromptHook(PromptHook hook);

// Installs a hook for the life of the object and puts the previous one back afterwards.
class ScopedPromptHook {
public:
    explicit ScopedPromptHook(PromptHook hook) : m_previous(SetPromptHook(std::move(hook))) {}
    ~ScopedPromptHook() { SetPromptHook(std::move(m_previous)); }
    ScopedPromptHook(const ScopedPromptHook&) = delete;
    ScopedPromptHook& operator=(const ScopedPromptHook&) = delete;

private:
    PromptHook m_previous;
};

// A one-line description of a prompt, as the layer logs it.
std::u16string DescribePrompt(const PromptInfo& info);

// Asks the hook (or logs and takes `fallback`). For the prompt implementations of the layer.
PromptReply AskPrompt(const PromptInfo& info, const PromptReply& fallback);

} // namespace platform::ui
