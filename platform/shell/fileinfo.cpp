// File information and the system image lists, with pictures from the desktop's icon theme or drawn here.
#include "platform/shell/fileinfo.h"
#include "platform/shell/shell_internal.h"
#include "platform/shell/shellfolder.h"
#include "platform/shell/specialfolders.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/volumes.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/imagelist.h"

#include <cairo.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace platform::shell {
namespace {

using platform::ui::ImagePixels;

// What a picture shows when the theme has none.
enum class Shape { File, Folder, FolderOpen, Drive, Computer, Network };

struct Picture {
    std::vector<std::string> names; // theme icon names, best first
    Shape shape = Shape::File;
};

// A PNG scaled to size x size; false when it cannot be read.
bool LoadPng(const std::string& path, int size, ImagePixels& out) {
    cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(png) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(png);
        return false;
    }
    const int w = cairo_image_surface_get_width(png);
    const int h = cairo_image_surface_get_height(png);
    cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cr = cairo_create(target);
    if (w > 0 && h > 0)
        cairo_scale(cr, static_cast<double>(size) / w, static_cast<double>(size) / h);
    cairo_set_source_surface(cr, png, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(target);
    out.width = size;
    out.height = size;
    out.argb.assign(static_cast<size_t>(size) * size, 0);
    const auto* data = cairo_image_surface_get_data(target);
    const int stride = cairo_image_surface_get_stride(target);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            uint32_t p = 0;
            std::memcpy(&p, data + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4, 4);
            const uint32_t a = p >> 24;
            if (a == 0)
                continue;
            // cairo keeps premultiplied colour; the image lists keep it straight.
            auto channel = [&](int shift) { return std::min<uint32_t>(255, ((p >> shift) & 0xFF) * 255 / a); };
            out.argb[static_cast<size_t>(y) * size + x] =
                (a << 24) | (channel(16) << 16) | (channel(8) << 8) | channel(0);
        }
    }
    cairo_surface_destroy(target);
    cairo_surface_destroy(png);
    return true;
}

// The layer's own pictures: plain shapes in the colours a desktop uses for them.
ImagePixels DrawShape(Shape shape, int size) {
    ImagePixels p;
    p.width = p.height = size;
    p.argb.assign(static_cast<size_t>(size) * size, 0);
    auto fill = [&](int x0, int y0, int x1, int y1, uint32_t rgb) {
        for (int y = y0 * size / 16; y < y1 * size / 16; ++y)
            for (int x = x0 * size / 16; x < x1 * size / 16; ++x)
                p.argb[static_cast<size_t>(y) * size + x] = 0xFF000000u | rgb;
    };
    switch (shape) {
    case Shape::Folder:
        fill(1, 3, 7, 5, 0xC89B3C);
        fill(1, 4, 15, 14, 0xE8B84A);
        break;
    case Shape::FolderOpen:
        fill(1, 3, 7, 5, 0xC89B3C);
        fill(1, 4, 15, 14, 0xC89B3C);
        fill(3, 7, 16, 14, 0xF2CE6B);
        break;
    case Shape::Drive:
        fill(1, 5, 15, 12, 0x808080);
        fill(2, 6, 14, 11, 0xC0C0C0);
        fill(11, 9, 13, 10, 0x20C020);
        break;
    case Shape::Computer:
        fill(2, 2, 14, 11, 0x505050);
        fill(3, 3, 13, 10, 0x4A90D9);
        fill(6, 11, 10, 13, 0x505050);
        fill(3, 13, 13, 14, 0x505050);
        break;
    case Shape::Network:
        fill(1, 3, 7, 5, 0x6A8FB0);
        fill(1, 4, 15, 12, 0x8FB3D4);
        fill(7, 12, 9, 15, 0x404040);
        break;
    case Shape::File:
        fill(3, 1, 13, 15, 0x909090);
        fill(4, 2, 12, 14, 0xFFFFFF);
        fill(5, 5, 11, 6, 0xA0A0A0);
        fill(5, 8, 11, 9, 0xA0A0A0);
        break;
    }
    return p;
}

Picture FilePicture(const std::string& type);

class SystemImageLists {
public:
    SystemImageLists() {
        m_small = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 16, 16);
        m_large = ImageList_Create(32, 32, ILC_COLOR32 | ILC_MASK, 16, 16);
    }
    HIMAGELIST Small() const { return m_small; }
    HIMAGELIST Large() const { return m_large; }

    // The index of the picture of files of a MIME type: every file of a listing asks, most of them for a few types.
    int IndexOfFileType(const std::string& type) {
        {
            std::lock_guard lock(m_mutex);
            if (IconThemeKeyIs(m_theme))
                if (auto it = m_byFileType.find(type); it != m_byFileType.end())
                    return it->second;
        }
        const int index = IndexOf(FilePicture(type));
        if (index >= 0) {
            std::lock_guard lock(m_mutex);
            if (IconThemeKeyIs(m_theme))
                m_byFileType[type] = index;
        }
        return index;
    }

    // The index of a picture in both lists, adding it on first use.
    int IndexOf(const Picture& picture) {
        // Every file of a type and every folder asks for the same picture: the answer found for it the first time
        // holds while the theme's lookups do.
        std::string wanted(1, static_cast<char>('0' + static_cast<int>(picture.shape)));
        for (const std::string& name : picture.names) {
            wanted += '\n';
            wanted += name;
        }
        {
            std::lock_guard lock(m_mutex);
            if (!IconThemeKeyIs(m_theme)) {
                m_byPicture.clear();
                m_byFileType.clear();
                m_theme = IconThemeKey();
            }
            if (auto it = m_byPicture.find(wanted); it != m_byPicture.end())
                return it->second;
        }
        const std::string theme = IconThemeKey();
        const int index = LookUp(picture);
        if (index >= 0) {
            std::lock_guard lock(m_mutex);
            if (theme == m_theme)
                m_byPicture[wanted] = index;
        }
        return index;
    }

private:
    int LookUp(const Picture& picture) {
        std::string smallFile, largeFile;
        for (const std::string& name : picture.names) {
            smallFile = FindThemeIcon(name, 16);
            if (!smallFile.empty()) {
                largeFile = FindThemeIcon(name, 32);
                break;
            }
        }
        const std::string key = smallFile.empty() ? "shape:" + std::to_string(static_cast<int>(picture.shape))
                                                  : smallFile + '|' + largeFile;
        std::lock_guard lock(m_mutex);
        if (auto it = m_indexes.find(key); it != m_indexes.end())
            return it->second;
        ImagePixels small, large;
        if (smallFile.empty() || !LoadPng(smallFile, 16, small) || !LoadPng(largeFile, 32, large)) {
            small = DrawShape(picture.shape, 16);
            large = DrawShape(picture.shape, 32);
        }
        const int index = platform::ui::AddImagePixels(m_small, small);
        if (index < 0 || platform::ui::AddImagePixels(m_large, large) != index)
            return -1;
        m_indexes[key] = index;
        return index;
    }

    std::mutex m_mutex;
    std::map<std::string, int> m_byPicture; // for the theme's lookups under m_theme
    std::map<std::string, int, std::less<>> m_byFileType;
    std::string m_theme;
    HIMAGELIST m_small;
    HIMAGELIST m_large;
    std::map<std::string, int> m_indexes;
};

SystemImageLists& Lists() {
    // Never destroyed: the lists are the shell's for the whole run, and controls may still hold them at exit.
    static SystemImageLists* lists = new SystemImageLists;
    return *lists;
}

// The picture of a file of a MIME type.
Picture FilePicture(const std::string& type) {
    Picture p;
    std::string icon = type;
    for (char& c : icon)
        if (c == '/')
            c = '-';
    p.names.push_back(icon);
    p.names.push_back(type.substr(0, type.find('/')) + "-x-generic");
    p.names.push_back("text-x-generic");
    p.shape = Shape::File;
    return p;
}

Picture PictureOf(const Place& place, bool open) {
    Picture p;
    auto folderPicture = [&](const std::u16string& path) {
        const UserFolders u = GetUserFolders();
        if (!path.empty() && EqualNoCase(path, u.desktop))
            p.names.push_back("user-desktop");
        else if (!path.empty() && EqualNoCase(path, u.documents))
            p.names.push_back("folder-documents");
        if (open)
            p.names.push_back("folder-open");
        p.names.push_back("folder");
        p.shape = open ? Shape::FolderOpen : Shape::Folder;
    };
    if (place.desktop) {
        p.names = {"user-desktop", "folder"};
        p.shape = Shape::Folder;
        return p;
    }
    if (place.virtualCsidl == CSIDL_DRIVES) {
        p.names = {"computer"};
        p.shape = Shape::Computer;
        return p;
    }
    if (place.virtualCsidl) {
        p.names = {"preferences-system", "folder"};
        p.shape = Shape::Folder;
        return p;
    }
    switch (place.last.kind) {
    case ItemKind::Drive: {
        p.shape = Shape::Drive;
        switch (GetDriveTypeW(place.path.c_str())) {
        case DRIVE_REMOVABLE:
            p.names = {"drive-removable-media", "drive-harddisk"};
            break;
        case DRIVE_CDROM:
            p.names = {"drive-optical", "drive-harddisk"};
            break;
        case DRIVE_REMOTE:
            p.names = {"folder-remote", "drive-harddisk"};
            p.shape = Shape::Network;
            break;
        default:
            p.names = {"drive-harddisk"};
            break;
        }
        return p;
    }
    case ItemKind::Share:
        p.names = {"folder-remote", "folder"};
        p.shape = Shape::Network;
        return p;
    case ItemKind::Link:
        if (EqualNoCase(place.path, GetUserFolders().profile))
            p.names.push_back("user-home");
        else if (EqualNoCase(place.path, GetUserFolders().fonts))
            p.names.push_back("preferences-desktop-font");
        folderPicture(place.path);
        return p;
    case ItemKind::Folder:
        folderPicture(place.path);
        return p;
    default:
        return FilePicture(MimeTypeOf(place.last.name, false));
    }
}

std::u16string TypeName(const Place& place) {
    if (place.folder)
        return u"File folder";
    return Utf8ToUtf16(MimeTypeOf(place.last.name, false));
}

struct ListDeleter {
    void operator()(ITEMIDLIST* p) const { ILFree(p); }
};

} // namespace
} // namespace platform::shell

using namespace platform::shell;

DWORD_PTR SHGetFileInfoW(LPCWSTR pszPath, DWORD dwFileAttributes, SHFILEINFOW* psfi, UINT cbFileInfo, UINT uFlags) {
    if (!pszPath || (psfi && cbFileInfo < sizeof(SHFILEINFOW)))
        return 0;
    std::unique_ptr<ITEMIDLIST, ListDeleter> owned;
    PCIDLIST_ABSOLUTE pidl = nullptr;
    if (uFlags & SHGFI_PIDL) {
        pidl = reinterpret_cast<PCIDLIST_ABSOLUTE>(pszPath);
    } else if (uFlags & SHGFI_USEFILEATTRIBUTES) {
        // Only the name and the attributes count: a bare name stands as if it lay on C:.
        std::u16string path = pszPath;
        if (path.find(u'\\') == std::u16string::npos && path.find(u':') == std::u16string::npos)
            path = u"C:\\" + path;
        auto items = ItemsOfPathUnchecked(path, (dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
        if (!items)
            return 0;
        if (!items->empty() && (items->back().kind == ItemKind::Folder || items->back().kind == ItemKind::File))
            items->back().attributes = dwFileAttributes;
        owned.reset(MakeList(*items));
        pidl = owned.get();
    } else {
        auto items = ItemsOfPath(pszPath, nullptr);
        if (!items)
            return 0;
        owned.reset(MakeList(*items));
        pidl = owned.get();
    }
    const Place place = Resolve(pidl);
    if (!place.valid)
        return 0;
    const bool small = (uFlags & SHGFI_SMALLICON) != 0;
    const bool open = (uFlags & SHGFI_OPENICON) && place.folder;
    SystemImageLists& lists = Lists();
    int index = -1;
    if (uFlags & (SHGFI_SYSICONINDEX | SHGFI_ICON)) {
        const bool file = !place.desktop && !place.virtualCsidl && place.last.kind == ItemKind::File;
        index = file ? lists.IndexOfFileType(MimeTypeOf(place.last.name, false)) : lists.IndexOf(PictureOf(place, open));
        if (index < 0)
            return 0;
    }
    if (psfi) {
        if (uFlags & (SHGFI_SYSICONINDEX | SHGFI_ICON))
            psfi->iIcon = index;
        if (uFlags & SHGFI_ICON) {
            psfi->hIcon = ImageList_GetIcon(small ? lists.Small() : lists.Large(), index, ILD_NORMAL);
            if (!psfi->hIcon)
                return 0;
        }
        if (uFlags & SHGFI_ATTRIBUTES) {
            const ULONG asked = (uFlags & SHGFI_ATTR_SPECIFIED) ? psfi->dwAttributes : 0xFFFFFFFFu & ~SFGAO_VALIDATE;
            psfi->dwAttributes = AttributesOf(place, asked);
        }
        if (uFlags & SHGFI_DISPLAYNAME) {
            std::u16string name;
            DisplayName(pidl, SHGDN_NORMAL, name);
            lstrcpynW(psfi->szDisplayName, name.c_str(), MAX_PATH);
        }
        if (uFlags & SHGFI_TYPENAME)
            lstrcpynW(psfi->szTypeName, TypeName(place).c_str(), 80);
    }
    if (uFlags & SHGFI_SYSICONINDEX)
        return reinterpret_cast<DWORD_PTR>(small ? lists.Small() : lists.Large());
    return 1;
}
