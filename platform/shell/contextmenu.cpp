// The context menu of one file-system item: open, open with, open the containing folder, properties.
#include "platform/shell/contextmenu.h"
#include "platform/shell/shell_internal.h"
#include "platform/shell/shellfolder.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/fs/paths.h"
#include "platform/ui/menu.h"
#include "platform/ui/winuser_constants.h"

#include <atomic>
#include <cstring>

namespace platform::shell {
namespace {

struct Command {
    std::u16string verb;
    std::u16string text;
    std::u16string help;
    int app = -1; // index into the menu's applications for "Open With"
    bool submenu = false;
};

std::string HostOf(const std::u16string& path) {
    auto host = platform::fs::ToHost(path.c_str());
    return host && host->kind == platform::fs::PathKind::File ? host->path : std::string();
}

class ItemMenu final : public IContextMenu3 {
public:
    explicit ItemMenu(const Place& place) : m_place(place) {
        const std::u16string name = place.path.substr(place.path.find_last_of(u'\\') + 1);
        if (!place.path.empty())
            m_apps = AppsForMimeType(MimeTypeOf(name, place.folder));
        m_commands.push_back({u"open", u"&Open", u"Opens the selected item.", -1, false});
        for (size_t i = 1; i < m_apps.size(); ++i)
            m_commands.push_back({u"openwith", m_apps[i].name, u"Opens the selected item with " + m_apps[i].name + u".",
                                  static_cast<int>(i), true});
        m_commands.push_back(
            {u"opencontaining", u"Open &Containing Folder", u"Opens the folder that holds the item.", -1, false});
        m_commands.push_back({u"properties", u"P&roperties", u"Shows the properties of the selected item.", -1, false});
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IContextMenu) ||
            IsEqualIID(riid, IID_IContextMenu2) || IsEqualIID(riid, IID_IContextMenu3)) {
            *ppv = static_cast<IContextMenu3*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override {
        const ULONG left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast, UINT uFlags) override {
        if (!IsMenu(hmenu))
            return E_INVALIDARG;
        if (idCmdLast < idCmdFirst)
            return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
        const UINT room = idCmdLast - idCmdFirst + 1;
        UINT used = 0;
        UINT position = indexMenu;
        HMENU openWith = nullptr;
        for (size_t i = 0; i < m_commands.size() && i < room; ++i) {
            const Command& c = m_commands[i];
            if ((uFlags & CMF_DEFAULTONLY) && i != 0)
                break;
            const UINT id = idCmdFirst + static_cast<UINT>(i);
            if (c.submenu) {
                if (!openWith) {
                    openWith = CreatePopupMenu();
                    InsertMenuW(hmenu, position++, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(openWith),
                                u"Open &With");
                }
                AppendMenuW(openWith, MF_STRING, id, c.text.c_str());
            } else {
                if (c.verb == u"properties")
                    InsertMenuW(hmenu, position++, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
                InsertMenuW(hmenu, position++, MF_BYPOSITION | MF_STRING, id, c.text.c_str());
            }
            used = static_cast<UINT>(i) + 1;
        }
        if (used > 0 && !(uFlags & CMF_NODEFAULT))
            SetMenuDefaultItem(hmenu, idCmdFirst, FALSE);
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, static_cast<USHORT>(used));
    }

    HRESULT InvokeCommand(CMINVOKECOMMANDINFO* pici) override {
        if (!pici || pici->cbSize < sizeof(CMINVOKECOMMANDINFO))
            return E_INVALIDARG;
        int index = -1;
        const bool byNumber = (reinterpret_cast<ULONG_PTR>(pici->lpVerb) >> 16) == 0;
        if (byNumber) {
            index = static_cast<int>(reinterpret_cast<ULONG_PTR>(pici->lpVerb));
        } else {
            std::u16string verb;
            const auto* ex = reinterpret_cast<const CMINVOKECOMMANDINFOEX*>(pici);
            if ((pici->fMask & CMIC_MASK_UNICODE) && pici->cbSize >= sizeof(CMINVOKECOMMANDINFOEX) && ex->lpVerbW)
                verb = ex->lpVerbW;
            else
                verb = Utf8ToUtf16(pici->lpVerb);
            for (size_t i = 0; i < m_commands.size(); ++i)
                if (m_commands[i].verb != u"openwith" && EqualNoCase(m_commands[i].verb, verb))
                    index = static_cast<int>(i);
        }
        if (index < 0 || index >= static_cast<int>(m_commands.size()))
            return E_INVALIDARG;
        const Command& c = m_commands[static_cast<size_t>(index)];
        DWORD error = ERROR_SUCCESS;
        if (c.app >= 0) {
            const std::string host = HostOf(m_place.path);
            error = host.empty() ? ERROR_FILE_NOT_FOUND
                                 : LaunchApp(m_apps[static_cast<size_t>(c.app)], {host},
                                             host.substr(0, host.find_last_of('/')), nullptr);
        } else {
            error = ExecuteItem(m_place, c.verb, u"", u"", pici->hwnd, nullptr);
        }
        return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error);
    }

    HRESULT GetCommandString(UINT_PTR idCmd, UINT uType, UINT*, CHAR* pszName, UINT cchMax) override {
        if (idCmd >= m_commands.size())
            return E_INVALIDARG;
        const Command& c = m_commands[idCmd];
        switch (uType) {
        case GCS_VALIDATEA:
        case GCS_VALIDATEW:
            return S_OK;
        case GCS_VERBW:
        case GCS_HELPTEXTW: {
            if (!pszName || cchMax == 0)
                return E_INVALIDARG;
            const std::u16string& text = uType == GCS_VERBW ? c.verb : c.help;
            lstrcpynW(reinterpret_cast<LPWSTR>(pszName), text.c_str(), static_cast<int>(cchMax));
            return S_OK;
        }
        case GCS_VERBA:
        case GCS_HELPTEXTA: {
            if (!pszName || cchMax == 0)
                return E_INVALIDARG;
            const std::string text = Utf16ToUtf8(uType == GCS_VERBA ? c.verb : c.help);
            std::strncpy(pszName, text.c_str(), cchMax - 1);
            pszName[cchMax - 1] = 0;
            return S_OK;
        }
        default:
            return E_INVALIDARG;
        }
    }

    HRESULT HandleMenuMsg(UINT uMsg, WPARAM wParam, LPARAM lParam) override {
        LRESULT result = 0;
        return HandleMenuMsg2(uMsg, wParam, lParam, &result);
    }

    HRESULT HandleMenuMsg2(UINT uMsg, WPARAM, LPARAM, LRESULT* plResult) override {
        if (plResult)
            *plResult = 0;
        // Nothing of this menu is drawn by its owner: only the pop-up's preparation is ours, and it needs nothing.
        return uMsg == WM_INITMENUPOPUP ? S_OK : E_FAIL;
    }

private:
    ~ItemMenu() = default;
    std::atomic<ULONG> m_refs{1};
    Place m_place;
    std::vector<DesktopApp> m_apps;
    std::vector<Command> m_commands;
};

} // namespace

HRESULT CreateContextMenu(PCIDLIST_ABSOLUTE item, const GUID& riid, void** ppv) {
    if (!ppv)
        return E_INVALIDARG;
    *ppv = nullptr;
    const Place place = Resolve(item);
    if (!place.valid || place.path.empty())
        return E_FAIL;
    if (!IsEqualIID(riid, IID_IContextMenu) && !IsEqualIID(riid, IID_IContextMenu2) &&
        !IsEqualIID(riid, IID_IContextMenu3) && !IsEqualIID(riid, IID_IUnknown))
        return E_NOINTERFACE;
    auto* menu = new ItemMenu(place);
    const HRESULT hr = menu->QueryInterface(riid, ppv);
    menu->Release();
    return hr;
}

} // namespace platform::shell
