#include "platform/ui/file_chooser.h"

#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/dialog_internal.h"

#include <algorithm>
#include <vector>

namespace platform::ui {

namespace {

constexpr WORD kFolderId = 1001, kListId = 1002, kNameId = 1003, kFilterId = 1004;

struct Chooser {
    const PromptInfo* info = nullptr;
    bool folders = false;
    std::u16string folder; // always ends in a backslash
    std::vector<std::u16string> entries;
    DWORD filterIndex = 1;
    std::u16string pattern; // a pattern typed as the name lists only what it matches
    std::u16string result;
};

std::u16string WithSlash(std::u16string path) {
    if (!path.empty() && path.back() != u'\\' && path.back() != u'/')
        path += u'\\';
    return path;
}

bool IsFolder(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsAbsolute(const std::u16string& path) {
    return (path.size() >= 2 && path[1] == u':') || (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\');
}

std::u16string Text(HWND dialog, int id) {
    char16_t buffer[1024] = {};
    GetDlgItemTextW(dialog, id, buffer, 1024);
    return buffer;
}

// The parent of a folder ("C:\a\b\" -> "C:\a\"); the root stays.
std::u16string Parent(const std::u16string& folder) {
    if (folder.size() <= 3)
        return folder;
    const size_t slash = folder.find_last_of(u"\\/", folder.size() - 2);
    return slash == std::u16string::npos ? folder : folder.substr(0, slash + 1);
}

bool Matches(const Chooser& c, const std::u16string& name) {
    if (!c.pattern.empty())
        return fs::MatchPattern(c.pattern.c_str(), name.c_str());
    const auto& filters = c.info->filters;
    if (filters.empty() || c.filterIndex == 0 || c.filterIndex > filters.size())
        return true;
    const std::u16string& patterns = filters[c.filterIndex - 1].second;
    size_t start = 0;
    while (start <= patterns.size()) {
        const size_t end = patterns.find(u';', start);
        const std::u16string pattern =
            patterns.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
        if (!pattern.empty() && fs::MatchPattern(pattern.c_str(), name.c_str()))
            return true;
        if (end == std::u16string::npos)
            break;
        start = end + 1;
    }
    return false;
}

void Fill(HWND dialog, Chooser& c) {
    SetDlgItemTextW(dialog, kFolderId, c.folder.c_str());
    std::vector<std::u16string> folders, files;
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW((c.folder + u"*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::u16string name = data.cFileName;
            if (name == u"." || name == u"..")
                continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                folders.push_back(name);
            else if (!c.folders && Matches(c, name))
                files.push_back(name);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    std::sort(folders.begin(), folders.end());
    std::sort(files.begin(), files.end());
    c.entries.clear();
    if (c.folder.size() > 3)
        c.entries.push_back(u"..");
    for (const auto& f : folders)
        c.entries.push_back(u"[" + f + u"]");
    c.entries.insert(c.entries.end(), files.begin(), files.end());
    SendDlgItemMessageW(dialog, kListId, LB_RESETCONTENT, 0, 0);
    for (const auto& e : c.entries)
        SendDlgItemMessageW(dialog, kListId, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(e.c_str()));
}

// Opens a folder entry of the list; false for a file.
bool OpenEntry(HWND dialog, Chooser& c, const std::u16string& entry) {
    if (entry == u"..") {
        c.folder = Parent(c.folder);
    } else if (entry.size() > 2 && entry.front() == u'[' && entry.back() == u']') {
        c.folder = WithSlash(c.folder + entry.substr(1, entry.size() - 2));
    } else {
        return false;
    }
    Fill(dialog, c);
    return true;
}

std::u16string Selected(HWND dialog, const Chooser& c) {
    const LRESULT i = SendDlgItemMessageW(dialog, kListId, LB_GETCURSEL, 0, 0);
    if (i < 0 || static_cast<size_t>(i) >= c.entries.size())
        return {};
    return c.entries[static_cast<size_t>(i)];
}

void Accept(HWND dialog, Chooser& c) {
    if (c.folders) {
        const std::u16string entry = Selected(dialog, c);
        std::u16string chosen = c.folder;
        if (entry.size() > 2 && entry.front() == u'[')
            chosen += entry.substr(1, entry.size() - 2);
        else if (chosen.size() > 3)
            chosen.pop_back();
        c.result = chosen;
        EndDialog(dialog, IDOK);
        return;
    }
    const std::u16string name = Text(dialog, kNameId);
    if (name.empty())
        return;
    if (name.find_first_of(u"*?") != std::u16string::npos) {
        c.pattern = name;
        Fill(dialog, c);
        return;
    }
    const std::u16string path = IsAbsolute(name) ? name : c.folder + name;
    if (IsFolder(path)) {
        // A folder typed in the name field is opened.
        c.folder = WithSlash(path);
        SetDlgItemTextW(dialog, kNameId, u"");
        Fill(dialog, c);
        return;
    }
    c.result = path;
    EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK ChooserProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* c = reinterpret_cast<Chooser*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        c = reinterpret_cast<Chooser*>(lParam);
        if (!c->folders) {
            SetDlgItemTextW(dialog, kNameId, c->info->fileName.c_str());
            for (const auto& [description, pattern] : c->info->filters)
                SendDlgItemMessageW(dialog, kFilterId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(description.c_str()));
            if (!c->info->filters.empty())
                SendDlgItemMessageW(dialog, kFilterId, CB_SETCURSEL, c->filterIndex - 1, 0);
        }
        Fill(dialog, *c);
        return TRUE;
    }
    case WM_COMMAND: {
        if (!c)
            return FALSE;
        const WORD id = LOWORD(wParam), code = HIWORD(wParam);
        if (id == IDOK) {
            Accept(dialog, *c);
        } else if (id == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
        } else if (id == kListId && code == LBN_DBLCLK) {
            const std::u16string entry = Selected(dialog, *c);
            if (!OpenEntry(dialog, *c, entry) && !c->folders) {
                SetDlgItemTextW(dialog, kNameId, entry.c_str());
                Accept(dialog, *c);
            }
        } else if (id == kListId && code == LBN_SELCHANGE && !c->folders) {
            const std::u16string entry = Selected(dialog, *c);
            if (!entry.empty() && entry.front() != u'[' && entry != u"..")
                SetDlgItemTextW(dialog, kNameId, entry.c_str());
        } else if (id == kFilterId && code == CBN_SELCHANGE) {
            const LRESULT i = SendDlgItemMessageW(dialog, kFilterId, CB_GETCURSEL, 0, 0);
            c->filterIndex = i >= 0 ? static_cast<DWORD>(i + 1) : 1;
            c->pattern.clear();
            Fill(dialog, *c);
        }
        return TRUE;
    }
    default:
        return FALSE;
    }
}

res::DialogTemplate ChooserTemplate(const PromptInfo& info, bool folders) {
    res::DialogTemplate t;
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER;
    t.caption = info.caption;
    t.pointSize = 8;
    t.fontName = u"MS Shell Dlg";
    t.cx = 280;
    t.cy = folders ? 200 : 230;
    short y = 8;
    if (!info.text.empty()) {
        AddTemplateItem(t, 0x82, info.text, 0xFFFF, SS_LEFT | SS_NOPREFIX, 8, y, 264, 20);
        y = static_cast<short>(y + 24);
    }
    if (!folders) {
        // The name field comes first, so that it has the focus.
        AddTemplateItem(t, 0x82, u"File &name:", 0xFFFF, SS_LEFT, 8, static_cast<short>(t.cy - 62), 50, 10);
        AddTemplateItem(t, 0x81, u"", kNameId, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 60,
                        static_cast<short>(t.cy - 64), 212, 14);
        AddTemplateItem(t, 0x82, u"Files of &type:", 0xFFFF, SS_LEFT, 8, static_cast<short>(t.cy - 44), 50, 10);
        AddTemplateItem(t, 0x85, u"", kFilterId, CBS_DROPDOWNLIST | WS_TABSTOP | WS_VSCROLL, 60,
                        static_cast<short>(t.cy - 46), 212, 80);
    }
    AddTemplateItem(t, 0x82, u"", kFolderId, SS_LEFT | SS_PATHELLIPSIS | SS_NOPREFIX, 8, y, 264, 10);
    y = static_cast<short>(y + 14);
    const short listBottom = static_cast<short>(folders ? t.cy - 28 : t.cy - 70);
    AddTemplateItem(t, 0x83, u"", kListId, LBS_NOTIFY | WS_BORDER | WS_VSCROLL | WS_TABSTOP, 8, y, 264,
                    static_cast<short>(listBottom - y));
    AddTemplateItem(t, 0x80, u"OK", IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, 166, static_cast<short>(t.cy - 22), 50, 14);
    AddTemplateItem(t, 0x80, u"Cancel", IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, 222, static_cast<short>(t.cy - 22), 50,
                    14);
    return t;
}

} // namespace

PromptReply ChooseOnDisplay(const PromptInfo& info) {
    Chooser c;
    c.info = &info;
    c.folders = info.kind == PromptKind::BrowseFolder;
    c.filterIndex = info.filterIndex ? info.filterIndex : 1;
    std::u16string start = c.folders ? info.selection : info.initialDir;
    if (!c.folders && IsAbsolute(info.fileName)) {
        const size_t slash = info.fileName.find_last_of(u"\\/");
        if (slash != std::u16string::npos)
            start = info.fileName.substr(0, slash);
    }
    c.folder = WithSlash(!start.empty() && IsFolder(start) ? start : std::u16string(u"C:\\"));
    HWND owner = info.owner ? GetAncestor(info.owner, GA_ROOT) : nullptr;
    HWND dialog = CreateDialogFromTemplate(nullptr, ChooserTemplate(info, c.folders), owner, ChooserProc,
                                           reinterpret_cast<LPARAM>(&c));
    if (!dialog)
        return PromptReply(IDCANCEL);
    ShowWindow(dialog, SW_SHOWNORMAL);
    if (RunDialogModal(dialog, owner) != IDOK || c.result.empty())
        return PromptReply(IDCANCEL);
    PromptReply reply = PromptReply::Path(c.result);
    reply.filterIndex = c.folders ? 0 : c.filterIndex;
    return reply;
}

} // namespace platform::ui
