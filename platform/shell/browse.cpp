// The folder browser: the common dialogs' browser, spoken to in item id lists.
#include "platform/shell/browse.h"
#include "platform/shell/shell_internal.h"

#include <memory>

namespace {

struct ListDeleter {
    void operator()(ITEMIDLIST* p) const { ILFree(p); }
};

PIDLIST_ABSOLUTE ListOfPath(const std::u16string& path) {
    if (auto items = platform::shell::ItemsOfPath(path, nullptr))
        return platform::shell::MakeList(*items);
    return SHSimpleIDListFromPath(path.c_str());
}

std::u16string PathOfList(PCIDLIST_ABSOLUTE pidl) {
    const platform::shell::Place place = platform::shell::Resolve(pidl);
    return place.valid ? place.path : std::u16string();
}

} // namespace

PIDLIST_ABSOLUTE SHBrowseForFolderW(LPBROWSEINFOW bi) {
    if (!bi)
        return nullptr;
    platform::ui::FolderBrowserRequest request;
    request.owner = bi->hwndOwner;
    request.title = bi->lpszTitle ? bi->lpszTitle : u"";
    request.flags = bi->ulFlags;
    if (bi->pidlRoot)
        request.root = PathOfList(bi->pidlRoot);
    request.callback = [bi](HWND browser, UINT message, const std::u16string& path) {
        if (!bi->lpfn)
            return;
        std::unique_ptr<ITEMIDLIST, ListDeleter> list(path.empty() ? nullptr : ListOfPath(path));
        bi->lpfn(browser, message, reinterpret_cast<LPARAM>(list.get()), bi->lParam);
    };
    request.pathOfIdList = [](LPARAM idList) { return PathOfList(reinterpret_cast<PCIDLIST_ABSOLUTE>(idList)); };
    const std::u16string chosen = platform::ui::RunFolderBrowser(request);
    if (chosen.empty())
        return nullptr;
    PIDLIST_ABSOLUTE result = ListOfPath(chosen);
    if (bi->pszDisplayName) {
        std::u16string name = chosen;
        while (name.size() > 3 && (name.back() == u'\\' || name.back() == u'/'))
            name.pop_back();
        if (name.size() > 3)
            name = name.substr(name.find_last_of(u"\\/") + 1);
        const size_t n = std::min<size_t>(name.size(), MAX_PATH - 1);
        name.copy(bi->pszDisplayName, n);
        bi->pszDisplayName[n] = 0;
    }
    return result;
}
