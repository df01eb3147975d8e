#include "platform/ui/commdlg.h"

#include "platform/base/errors.h"
#include "platform/fs/files.h"
#include "platform/ui/controls_internal.h"
#include "platform/ui/dialog_internal.h"
#include "platform/ui/msgbox.h"

#include <cstdlib>
#include <cstring>

namespace {

thread_local DWORD g_lastError = 0;

constexpr int kMaxAttempts = 3;

std::u16string FromBuffer(LPCWSTR text, size_t max) {
    if (!text)
        return {};
    size_t n = 0;
    while (n < max && text[n])
        ++n;
    return std::u16string(text, n);
}

// "Description\0pattern\0...\0\0" into pairs.
std::vector<std::pair<std::u16string, std::u16string>> ParseFilter(LPCWSTR filter) {
    std::vector<std::pair<std::u16string, std::u16string>> out;
    if (!filter)
        return out;
    for (const char16_t* p = filter; *p;) {
        std::u16string description = p;
        p += description.size() + 1;
        if (!*p)
            break;
        std::u16string pattern = p;
        p += pattern.size() + 1;
        out.emplace_back(std::move(description), std::move(pattern));
    }
    return out;
}

size_t NameStart(const std::u16string& path) {
    const size_t slash = path.find_last_of(u"\\/:");
    return slash == std::u16string::npos ? 0 : slash + 1;
}

bool Exists(const std::u16string& path, bool directory) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    return !directory || (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsAbsolute(const std::u16string& path) {
    return (path.size() >= 2 && path[1] == u':') || (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\');
}

BOOL FileDialog(LPOPENFILENAMEW ofn, bool save) {
    using namespace platform::ui;
    g_lastError = 0;
    if (!ofn || ofn->lStructSize < offsetof(OPENFILENAMEW, pvReserved)) {
        g_lastError = CDERR_STRUCTSIZE;
        return FALSE;
    }
    if (!ofn->lpstrFile || ofn->nMaxFile == 0) {
        g_lastError = CDERR_INITIALIZATION;
        return FALSE;
    }
    PromptInfo info;
    info.kind = save ? PromptKind::SaveFile : PromptKind::OpenFile;
    info.owner = ofn->hwndOwner;
    info.caption = ofn->lpstrTitle ? ofn->lpstrTitle : (save ? u"Save As" : u"Open");
    info.style = ofn->Flags;
    info.fileName = FromBuffer(ofn->lpstrFile, ofn->nMaxFile);
    info.initialDir = ofn->lpstrInitialDir ? ofn->lpstrInitialDir : u"";
    info.defaultExt = ofn->lpstrDefExt ? ofn->lpstrDefExt : u"";
    info.filters = ParseFilter(ofn->lpstrFilter);
    info.filterIndex = ofn->nFilterIndex ? ofn->nFilterIndex : 1;

    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        const PromptReply reply = AskPrompt(info, PromptReply(IDCANCEL));
        if (reply.result != IDOK || reply.path.empty())
            return FALSE;
        std::u16string path = reply.path;
        if (!IsAbsolute(path) && !info.initialDir.empty()) {
            std::u16string dir = info.initialDir;
            if (dir.back() != u'\\' && dir.back() != u'/')
                dir += u'\\';
            path = dir + path;
        }
        const size_t nameAt = NameStart(path);
        const bool hasExtension = path.find(u'.', nameAt) != std::u16string::npos;
        if (!hasExtension && !info.defaultExt.empty())
            path += u"." + info.defaultExt;

        const std::u16string folder = nameAt > 0 ? path.substr(0, nameAt) : std::u16string();
        if ((ofn->Flags & OFN_PATHMUSTEXIST) && !folder.empty() && !Exists(folder, true)) {
            info.text = path + u"\nPath does not exist.\nCheck the path and try again.";
            continue;
        }
        if ((ofn->Flags & OFN_FILEMUSTEXIST) && !Exists(path, false)) {
            info.text = path + u"\nFile not found.\nCheck the file name and try again.";
            continue;
        }
        if (save && (ofn->Flags & OFN_OVERWRITEPROMPT) && Exists(path, false)) {
            const std::u16string question = path + u" already exists.\nDo you want to replace it?";
            if (MessageBoxW(ofn->hwndOwner, question.c_str(), info.caption.c_str(),
                            MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES) {
                info.text = path + u" already exists.";
                continue;
            }
        }
        if (path.size() + 1 > ofn->nMaxFile) {
            g_lastError = FNERR_BUFFERTOOSMALL;
            const auto needed = static_cast<WORD>(std::min<size_t>(path.size() + 1, 0xFFFF));
            if (ofn->nMaxFile >= 1)
                std::memcpy(ofn->lpstrFile, &needed, sizeof needed);
            return FALSE;
        }
        path.copy(ofn->lpstrFile, path.size());
        ofn->lpstrFile[path.size()] = 0;
        const size_t nameStart = NameStart(path);
        ofn->nFileOffset = static_cast<WORD>(nameStart);
        const size_t dot = path.find_last_of(u'.');
        ofn->nFileExtension =
            static_cast<WORD>(dot != std::u16string::npos && dot >= nameStart ? dot + 1 : path.size());
        if (ofn->lpstrFileTitle && ofn->nMaxFileTitle) {
            const std::u16string title = path.substr(nameStart);
            const size_t n = std::min<size_t>(title.size(), ofn->nMaxFileTitle - 1);
            title.copy(ofn->lpstrFileTitle, n);
            ofn->lpstrFileTitle[n] = 0;
        }
        if (reply.filterIndex)
            ofn->nFilterIndex = reply.filterIndex;
        ofn->Flags &= ~OFN_EXTENSIONDIFFERENT;
        if (!info.defaultExt.empty()) {
            const std::u16string ext = dot != std::u16string::npos && dot >= nameStart ? path.substr(dot + 1) : u"";
            if (platform::ui::stdctl::CompareNoCase(ext, info.defaultExt) != 0)
                ofn->Flags |= OFN_EXTENSIONDIFFERENT;
        }
        return TRUE;
    }
    return FALSE;
}

} // namespace

BOOL GetOpenFileNameW(LPOPENFILENAMEW ofn) {
    return FileDialog(ofn, false);
}

BOOL GetSaveFileNameW(LPOPENFILENAMEW ofn) {
    return FileDialog(ofn, true);
}

DWORD CommDlgExtendedError() {
    return g_lastError;
}

namespace {

constexpr int kTitleId = 0x3742;
constexpr int kStatusId = 0x3743;

struct Browser {
    const platform::ui::FolderBrowserRequest* request = nullptr;
    std::u16string selection;
    std::u16string status;
    bool okEnabled = true;
    HWND hwnd = nullptr;
};

void Callback(Browser& b, UINT msg, const std::u16string& path) {
    if (b.request->callback)
        b.request->callback(b.hwnd, msg, path);
}

void Select(Browser& b, const std::u16string& path) {
    b.selection = path;
    b.okEnabled = true;
    EnableWindow(GetDlgItem(b.hwnd, IDOK), TRUE);
    Callback(b, BFFM_SELCHANGED, path);
}

INT_PTR CALLBACK BrowserProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        reinterpret_cast<Browser*>(lParam)->hwnd = hwnd;
        return TRUE;
    }
    auto* b = reinterpret_cast<Browser*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!b)
        return FALSE;
    switch (msg) {
    case BFFM_SETSELECTIONW: {
        const std::u16string path =
            wParam ? std::u16string(reinterpret_cast<LPCWSTR>(lParam) ? reinterpret_cast<LPCWSTR>(lParam) : u"")
                   : (b->request->pathOfIdList ? b->request->pathOfIdList(lParam) : std::u16string());
        if (!Exists(path, true))
            return TRUE;
        Select(*b, path);
        return TRUE;
    }
    case BFFM_SETSTATUSTEXTW:
        b->status = reinterpret_cast<LPCWSTR>(lParam) ? reinterpret_cast<LPCWSTR>(lParam) : u"";
        SetDlgItemTextW(hwnd, kStatusId, b->status.c_str());
        return TRUE;
    case BFFM_ENABLEOK:
        b->okEnabled = lParam != 0;
        EnableWindow(GetDlgItem(hwnd, IDOK), b->okEnabled ? TRUE : FALSE);
        return TRUE;
    case BFFM_SETOKTEXT:
        SetDlgItemTextW(hwnd, IDOK, reinterpret_cast<LPCWSTR>(lParam));
        return TRUE;
    case BFFM_SETEXPANDED:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK && b->okEnabled && !b->selection.empty())
            EndDialog(hwnd, IDOK);
        else if (LOWORD(wParam) == IDCANCEL)
            EndDialog(hwnd, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

platform::res::DialogTemplate BrowserTemplate(const platform::ui::FolderBrowserRequest& bi) {
    using platform::ui::AddTemplateItem;
    platform::res::DialogTemplate t;
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER;
    t.caption = u"Browse for Folder";
    t.pointSize = 8;
    t.fontName = u"MS Shell Dlg";
    t.cx = 220;
    t.cy = 100;
    AddTemplateItem(t, 0x82, bi.title, kTitleId, SS_LEFT, 8, 8, 204, 20);
    if (bi.flags & BIF_STATUSTEXT)
        AddTemplateItem(t, 0x82, u"", kStatusId, SS_LEFT | SS_PATHELLIPSIS, 8, 32, 204, 20);
    AddTemplateItem(t, 0x80, u"OK", IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 106, 78, 50, 14);
    AddTemplateItem(t, 0x80, u"Cancel", IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, 162, 78, 50, 14);
    return t;
}

} // namespace

namespace platform::ui {

std::u16string RunFolderBrowser(const FolderBrowserRequest& request) {
    const FolderBrowserRequest* bi = &request;
    Browser b;
    b.request = bi;
    HWND root = bi->owner ? GetAncestor(bi->owner, GA_ROOT) : nullptr;
    HWND hwnd =
        CreateDialogFromTemplate(nullptr, BrowserTemplate(*bi), root, BrowserProc, reinterpret_cast<LPARAM>(&b));
    if (!hwnd)
        return {};
    ShowWindow(hwnd, SW_SHOWNORMAL);
    Callback(b, BFFM_INITIALIZED, {});
    if (b.selection.empty() && !bi->root.empty())
        Select(b, bi->root);

    PromptInfo info;
    info.kind = PromptKind::BrowseFolder;
    info.owner = bi->owner;
    info.window = hwnd;
    info.caption = u"Browse for Folder";
    info.text = bi->title;
    info.style = bi->flags;
    INT_PTR result = IDCANCEL;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        info.selection = b.selection;
        info.status = b.status;
        const PromptReply reply = AskPrompt(info, PromptReply(IDCANCEL));
        if (reply.result == PromptReply::kRunModal) {
            result = RunDialogModal(hwnd, root);
            hwnd = nullptr;
            break;
        }
        if (reply.result != IDOK)
            break;
        if (!reply.path.empty()) {
            if (!Exists(reply.path, true)) {
                info.text = reply.path + u": the folder does not exist.";
                continue;
            }
            Select(b, reply.path);
        }
        if (!b.okEnabled || b.selection.empty()) {
            info.text = u"The folder cannot be chosen.";
            continue;
        }
        result = IDOK;
        break;
    }
    if (hwnd && IsWindow(hwnd))
        DestroyWindow(hwnd);
    if (result != IDOK)
        return {};
    return b.selection;
}

} // namespace platform::ui
