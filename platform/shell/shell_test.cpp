// Item id lists, shell folders, special folders, file information and the system module.
#include "platform/shell/fileinfo.h"
#include "platform/shell/idlist.h"
#include "platform/shell/shell_test_support.h"
#include "platform/shell/shellfolder.h"
#include "platform/shell/specialfolders.h"

#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/imagelist.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

struct ListDeleter {
    void operator()(ITEMIDLIST* p) const { ILFree(p); }
};
using List = std::unique_ptr<ITEMIDLIST, ListDeleter>;

template <typename T> struct Releaser {
    void operator()(T* p) const {
        if (p)
            p->Release();
    }
};
template <typename T> using Ptr = std::unique_ptr<T, Releaser<T>>;

Ptr<IShellFolder> Desktop() {
    IShellFolder* desktop = nullptr;
    EXPECT_EQ(SHGetDesktopFolder(&desktop), S_OK);
    return Ptr<IShellFolder>(desktop);
}

List Parse(const std::u16string& path, HRESULT* result = nullptr) {
    PIDLIST_RELATIVE pidl = nullptr;
    std::u16string text = path;
    const HRESULT hr = Desktop()->ParseDisplayName(nullptr, nullptr, text.data(), nullptr, &pidl, nullptr);
    if (result)
        *result = hr;
    return List(pidl);
}

std::u16string PathOf(PCIDLIST_ABSOLUTE pidl) {
    WCHAR path[2048] = {};
    return SHGetPathFromIDListW(pidl, path) ? std::u16string(path) : std::u16string(u"<none>");
}

std::u16string NameOf(IShellFolder* folder, PCUITEMID_CHILD child, SHGDNF flags) {
    STRRET ret{};
    if (folder->GetDisplayNameOf(child, flags, &ret) != S_OK)
        return u"<error>";
    WCHAR name[2048] = {};
    EXPECT_EQ(StrRetToBufW(&ret, child, name, 2048), S_OK);
    return name;
}

std::vector<std::u16string> Names(IShellFolder* folder, SHCONTF flags) {
    IEnumIDList* raw = nullptr;
    EXPECT_EQ(folder->EnumObjects(nullptr, flags, &raw), S_OK);
    Ptr<IEnumIDList> e(raw);
    std::vector<std::u16string> names;
    PITEMID_CHILD child = nullptr;
    while (e && e->Next(1, &child, nullptr) == S_OK) {
        names.push_back(NameOf(folder, child, SHGDN_INFOLDER));
        ILFree(child);
    }
    std::sort(names.begin(), names.end());
    return names;
}

Ptr<IShellFolder> Bind(PCIDLIST_ABSOLUTE pidl) {
    void* folder = nullptr;
    EXPECT_EQ(Desktop()->BindToObject(pidl, nullptr, IID_IShellFolder, &folder), S_OK);
    return Ptr<IShellFolder>(static_cast<IShellFolder*>(folder));
}

using ShellTest = shelltest::ShellTest;

TEST(IdListTest, PrimitivesOnEmptyOneAndTwoItemLists) {
    EXPECT_EQ(ILCombine(nullptr, nullptr), nullptr);
    EXPECT_EQ(ILGetSize(nullptr), 0u);
    List one(SHSimpleIDListFromPath(u"C:\\"));
    ASSERT_TRUE(one);
    // My Computer, then the drive.
    List copy(ILCombine(nullptr, one.get()));
    ASSERT_TRUE(copy);
    EXPECT_EQ(ILGetSize(copy.get()), ILGetSize(one.get()));
    EXPECT_TRUE(ILIsEqual(copy.get(), one.get()));

    List child(ILCloneFirst(ILFindLastID(one.get())));
    ASSERT_TRUE(child);
    EXPECT_EQ(ILFindLastID(child.get()), child.get());
    List parent(ILClone(child.get()));
    EXPECT_TRUE(ILRemoveLastID(parent.get()));
    EXPECT_TRUE(ILIsEmpty(parent.get()));
    EXPECT_EQ(ILGetSize(parent.get()), 2u);
    EXPECT_FALSE(ILRemoveLastID(parent.get()));

    List deeper(SHSimpleIDListFromPath(u"C:\\A\\b.txt"));
    EXPECT_TRUE(ILIsParent(one.get(), deeper.get(), FALSE));
    EXPECT_FALSE(ILIsParent(one.get(), deeper.get(), TRUE));
    List sameButCase(SHSimpleIDListFromPath(u"c:\\a\\B.TXT"));
    EXPECT_TRUE(ILIsEqual(deeper.get(), sameButCase.get()));
}

TEST_F(ShellTest, ParsingFindsTheNamesOnDiskAndFailsForMissingOnes) {
    m_drive.MakeFolder("Data/Sub");
    m_drive.Write("Data/Sub/Note.TXT", "x");
    List found = Parse(u"t:\\data\\SUB\\note.txt");
    ASSERT_TRUE(found);
    EXPECT_EQ(PathOf(found.get()), u"T:\\Data\\Sub\\Note.TXT");
    EXPECT_EQ(PathOf(List(Parse(u"T:")).get()), u"T:\\");
    EXPECT_EQ(PathOf(List(Parse(u"\\\\?\\T:\\Data")).get()), u"T:\\Data");

    HRESULT hr = S_OK;
    EXPECT_FALSE(Parse(u"T:\\Data\\missing.txt", &hr));
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(Parse(u"T:\\nothing\\here", &hr));
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(Parse(u"Q:\\", &hr)); // no such drive
    EXPECT_FALSE(Parse(u"relative\\path", &hr));

    // A path with no file-system side gives no text at all.
    PIDLIST_ABSOLUTE drives = nullptr;
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drives), S_OK);
    WCHAR path[2048] = {u'x'};
    EXPECT_FALSE(SHGetPathFromIDListW(drives, path));
    EXPECT_EQ(path[0], 0);
    ILFree(drives);
}

TEST_F(ShellTest, PathsUpTo2048CharactersComeBackWhole) {
    std::string relative;
    while (relative.size() < 1900)
        relative += (relative.empty() ? "" : "/") + std::string(60, 'd');
    m_drive.MakeFolder(relative);
    List deep = Parse(m_drive.Path(relative));
    ASSERT_TRUE(deep);
    EXPECT_EQ(PathOf(deep.get()), m_drive.Path(relative));

    std::u16string tooLong = m_drive.Path(relative);
    while (tooLong.size() < 2100)
        tooLong += u"\\x";
    List beyond(SHSimpleIDListFromPath(tooLong.c_str()));
    WCHAR path[2048] = {u'x'};
    EXPECT_FALSE(SHGetPathFromIDListW(beyond.get(), path));
    EXPECT_EQ(path[0], 0);
    std::vector<WCHAR> big(4096);
    EXPECT_TRUE(SHGetPathFromIDListEx(beyond.get(), big.data(), 4096, GPFIDL_DEFAULT));
    EXPECT_EQ(std::u16string(big.data()), tooLong);
}

TEST_F(ShellTest, FoldersListTheirChildrenByTheEnumerationFlags) {
    m_drive.MakeFolder("top/b-folder");
    m_drive.MakeFolder("top/.hidden-folder");
    m_drive.Write("top/a-file.txt", "1");
    m_drive.Write("top/.hidden-file", "2");
    List top = Parse(m_drive.Path("top"));
    Ptr<IShellFolder> folder = Bind(top.get());
    ASSERT_TRUE(folder);
    using V = std::vector<std::u16string>;
    EXPECT_EQ(Names(folder.get(), SHCONTF_FOLDERS), (V{u"b-folder"}));
    EXPECT_EQ(Names(folder.get(), SHCONTF_FOLDERS | SHCONTF_NONFOLDERS), (V{u"a-file.txt", u"b-folder"}));
    EXPECT_EQ(Names(folder.get(), SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN),
              (V{u".hidden-file", u".hidden-folder", u"a-file.txt", u"b-folder"}));

    // Binding a file or nothing fails; an empty child list is no folder to bind.
    void* out = nullptr;
    List file = Parse(m_drive.Path("top/a-file.txt"));
    EXPECT_EQ(Desktop()->BindToObject(file.get(), nullptr, IID_IShellFolder, &out),
              HRESULT_FROM_WIN32(ERROR_DIRECTORY));
    List empty(SHSimpleIDListFromPath(u"C:\\"));
    ILRemoveLastID(empty.get());
    ILRemoveLastID(empty.get());
    EXPECT_EQ(Desktop()->BindToObject(empty.get(), nullptr, IID_IShellFolder, &out), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
}

TEST_F(ShellTest, OrderNamesAndAttributesOfItems) {
    m_drive.MakeFolder("o/zeta");
    m_drive.MakeFolder("o/Alpha");
    m_drive.MakeFolder("o/Alpha/inner");
    m_drive.Write("o/beta.txt", "b");
    Ptr<IShellFolder> folder = Bind(Parse(m_drive.Path("o")).get());
    auto child = [&](const char16_t* name) {
        PIDLIST_RELATIVE pidl = nullptr;
        std::u16string text = name;
        EXPECT_EQ(folder->ParseDisplayName(nullptr, nullptr, text.data(), nullptr, &pidl, nullptr), S_OK);
        return List(pidl);
    };
    List zeta = child(u"zeta"), alpha = child(u"ALPHA"), beta = child(u"beta.txt");
    auto order = [&](const List& a, const List& b) {
        return static_cast<SHORT>(HRESULT_CODE(folder->CompareIDs(0, a.get(), b.get())));
    };
    EXPECT_LT(order(alpha, zeta), 0);
    EXPECT_GT(order(beta, zeta), 0); // folders before files
    EXPECT_EQ(order(alpha, alpha), 0);

    EXPECT_EQ(NameOf(folder.get(), alpha.get(), SHGDN_INFOLDER), u"Alpha");
    EXPECT_EQ(NameOf(folder.get(), beta.get(), SHGDN_NORMAL), u"beta.txt");
    EXPECT_EQ(NameOf(folder.get(), beta.get(), SHGDN_FORPARSING), m_drive.Path("o/beta.txt"));

    SFGAOF attributes = SFGAO_FOLDER | SFGAO_HASSUBFOLDER | SFGAO_FILESYSTEM;
    PCUITEMID_CHILD one[] = {alpha.get()};
    ASSERT_EQ(folder->GetAttributesOf(1, one, &attributes), S_OK);
    EXPECT_EQ(attributes, SFGAO_FOLDER | SFGAO_HASSUBFOLDER | SFGAO_FILESYSTEM);
    attributes = SFGAO_FOLDER | SFGAO_HASSUBFOLDER;
    PCUITEMID_CHILD leaf[] = {zeta.get()};
    folder->GetAttributesOf(1, leaf, &attributes);
    EXPECT_EQ(attributes, SFGAO_FOLDER);
    attributes = SFGAO_FOLDER;
    PCUITEMID_CHILD file[] = {beta.get()};
    folder->GetAttributesOf(1, file, &attributes);
    EXPECT_EQ(attributes, 0u);

    // Drives show their label or their kind, and My Computer its Windows name.
    PIDLIST_ABSOLUTE drives = nullptr;
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drives), S_OK);
    Ptr<IShellFolder> computer = Bind(drives);
    EXPECT_EQ(NameOf(Desktop().get(), drives, SHGDN_NORMAL), u"My Computer");
    List t = Parse(u"T:\\");
    EXPECT_EQ(NameOf(computer.get(), ILFindLastID(t.get()), SHGDN_INFOLDER), u"Local Disk (T:)");
    EXPECT_EQ(NameOf(computer.get(), ILFindLastID(t.get()), SHGDN_INFOLDER | SHGDN_FORPARSING), u"T:\\");
    const std::vector<std::u16string> letters = Names(computer.get(), SHCONTF_FOLDERS);
    EXPECT_NE(std::find(letters.begin(), letters.end(), u"Local Disk (T:)"), letters.end());
    ILFree(drives);
}

// A folder hands its items out in the order it compares them in: folders first, then names without regard to case
// (Windows folds to upper case, so "_" sorts after the letters and "\u00e9" as "\u00c9"), names that differ in case alone
// next to each other.
TEST_F(ShellTest, ListingsComeInTheFoldersOwnOrder) {
    for (const char* name : {"b", "A", "a", "_x", "\xc3\xa9t\xc3\xa9", "Z 10", "Z 9", "~"})
        m_drive.Write(std::string("s/") + name, "");
    for (const char* name : {"zz dir", "B dir", "b Dir"})
        m_drive.MakeFolder(std::string("s/") + name);
    Ptr<IShellFolder> folder = Bind(Parse(m_drive.Path("s")).get());
    ASSERT_TRUE(folder);
    IEnumIDList* raw = nullptr;
    ASSERT_EQ(folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &raw), S_OK);
    Ptr<IEnumIDList> e(raw);
    std::vector<List> items;
    std::vector<std::u16string> names;
    PITEMID_CHILD child = nullptr;
    while (e->Next(1, &child, nullptr) == S_OK) {
        names.push_back(NameOf(folder.get(), child, SHGDN_INFOLDER));
        items.emplace_back(child);
    }
    const std::vector<std::u16string> expected{u"B dir", u"b Dir", u"zz dir", u"A", u"a", u"b",
                                               u"Z 10",  u"Z 9",   u"_x",     u"~", u"\u00e9t\u00e9"};
    EXPECT_EQ(names, expected);
    for (size_t i = 0; i < items.size(); ++i)
        for (size_t j = 0; j < items.size(); ++j) {
            const auto r = static_cast<SHORT>(HRESULT_CODE(folder->CompareIDs(0, items[i].get(), items[j].get())));
            EXPECT_EQ(r < 0, i < j) << i << " " << j;
            EXPECT_EQ(r == 0, i == j) << i << " " << j;
        }
}

// A folder large enough to have its attributes read ahead by threads: each kind of listing hands out exactly the
// entries it asks for (hidden ones by attribute and by name, a link by where it leads), in the folder's order, and
// a skip or a clone taken half-way goes on from there.
TEST_F(ShellTest, LargeListingsKeepOrderAndFilters) {
    constexpr int kEntries = 1600;
    std::vector<std::pair<std::u16string, bool>> all; // name, folder
    for (int i = 0; i < kEntries; ++i) {
        const std::string name = (i % 9 == 0 ? "Dir " : (i % 2 ? "file " : "File ")) + std::to_string(i);
        if (i % 9 == 0)
            m_drive.MakeFolder("big/" + name);
        else
            m_drive.Write("big/" + name, "");
        all.emplace_back(platform::Utf8ToUtf16(name), i % 9 == 0);
    }
    m_drive.Write("big/.dotted", "");
    ASSERT_TRUE(SetFileAttributesW((m_drive.Path("big") + u"\\file 3").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesW((m_drive.Path("big") + u"\\Dir 9").c_str(), FILE_ATTRIBUTE_HIDDEN));
    m_drive.MakeFolder("target");
    ASSERT_EQ(symlink("../target", m_drive.Host("big/a link").c_str()), 0);
    all.emplace_back(u"a link", true);
    Ptr<IShellFolder> folder = Bind(Parse(m_drive.Path("big")).get());
    ASSERT_TRUE(folder);

    auto listed = [&](SHCONTF flags) {
        IEnumIDList* raw = nullptr;
        EXPECT_EQ(folder->EnumObjects(nullptr, flags, &raw), S_OK);
        Ptr<IEnumIDList> e(raw);
        std::vector<List> items;
        PITEMID_CHILD child = nullptr;
        while (e && e->Next(1, &child, nullptr) == S_OK)
            items.emplace_back(child);
        return items;
    };
    for (const SHCONTF flags : {SHCONTF_FOLDERS, SHCONTF_NONFOLDERS, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS,
                                SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN}) {
        SCOPED_TRACE(flags);
        const bool hidden = (flags & SHCONTF_INCLUDEHIDDEN) != 0;
        std::vector<std::u16string> expected;
        for (const auto& [name, isFolder] : all)
            if ((isFolder ? (flags & SHCONTF_FOLDERS) : (flags & SHCONTF_NONFOLDERS)) &&
                (hidden || (name != u"file 3" && name != u"Dir 9")))
                expected.push_back(name);
        if (hidden)
            expected.push_back(u".dotted");
        const auto items = listed(flags);
        std::vector<std::u16string> names;
        for (const List& item : items)
            names.push_back(NameOf(folder.get(), item.get(), SHGDN_INFOLDER));
        std::vector<std::u16string> sortedNames = names;
        std::sort(sortedNames.begin(), sortedNames.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(sortedNames, expected);
        for (size_t i = 1; i < items.size(); ++i)
            EXPECT_LT(static_cast<SHORT>(HRESULT_CODE(folder->CompareIDs(0, items[i - 1].get(), items[i].get()))), 0)
                << platform::Utf16ToUtf8(names[i]);
    }

    IEnumIDList* raw = nullptr;
    ASSERT_EQ(folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &raw), S_OK);
    Ptr<IEnumIDList> e(raw);
    const auto items = listed(SHCONTF_FOLDERS | SHCONTF_NONFOLDERS);
    ASSERT_EQ(e->Skip(700), S_OK);
    IEnumIDList* rawCopy = nullptr;
    ASSERT_EQ(e->Clone(&rawCopy), S_OK);
    Ptr<IEnumIDList> copy(rawCopy);
    for (IEnumIDList* from : {e.get(), copy.get()}) {
        PITEMID_CHILD child = nullptr;
        ASSERT_EQ(from->Next(1, &child, nullptr), S_OK);
        List one(child);
        EXPECT_EQ(HRESULT_CODE(folder->CompareIDs(0, one.get(), items[700].get())), 0);
    }
    EXPECT_EQ(e->Skip(static_cast<ULONG>(items.size())), S_FALSE);
    PITEMID_CHILD none = nullptr;
    EXPECT_EQ(e->Next(1, &none, nullptr), S_FALSE);
}

TEST_F(ShellTest, SpecialFoldersAreTheDesktopsOwnUnderTheHomeDrive) {
    m_drive.MakeFolder("unused");
    std::filesystem::create_directories(m_home + "/.config");
    std::filesystem::create_directories(m_home + "/Schreibtisch");
    std::filesystem::create_directories(m_home + "/Documents");
    {
        std::ofstream dirs(m_home + "/.config/user-dirs.dirs");
        dirs << "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n";
    }
    WCHAR path[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, path), S_OK);
    EXPECT_EQ(std::u16string(path), u"C:\\Schreibtisch");
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, path), S_OK);
    EXPECT_EQ(std::u16string(path), u"C:\\Documents");
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, path), S_OK);
    EXPECT_EQ(std::u16string(path), u"C:\\");
    // Favorites does not exist until asked to be made.
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_FAVORITES, nullptr, 0, path), S_FALSE);
    PIDLIST_ABSOLUTE pidl = nullptr;
    EXPECT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_FAVORITES, &pidl), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_FAVORITES | CSIDL_FLAG_CREATE, nullptr, 0, path), S_OK);
    EXPECT_TRUE(std::filesystem::is_directory(m_home + "/Favorites"));

    // The folders show under Windows' names; the desktop list is the empty list.
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_PERSONAL, &pidl), S_OK);
    EXPECT_EQ(NameOf(Desktop().get(), pidl, SHGDN_NORMAL), u"My Documents");
    EXPECT_EQ(PathOf(pidl), u"C:\\Documents");
    ILFree(pidl);
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &pidl), S_OK);
    EXPECT_TRUE(ILIsEmpty(pidl));
    EXPECT_EQ(PathOf(pidl), u"C:\\Schreibtisch");
    EXPECT_EQ(NameOf(Desktop().get(), pidl, SHGDN_INFOLDER), u"Desktop");
    ILFree(pidl);

    // A home outside every drive letter has no path.
    m_env.Set("HOME", "/nonexistent-home-of-nobody");
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, path), E_FAIL);
}

// Writes a PNG of one colour.
void WritePng(const std::string& path, int size, uint32_t argb) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0, (argb & 0xFF) / 255.0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_write_to_png(s, path.c_str());
    cairo_surface_destroy(s);
}

TEST_F(ShellTest, IconsComeFromTheDesktopThemeElseTheLayersOwn) {
    // A theme of its own in the test's data folder, named by the GTK settings.
    const std::string theme = m_machine.Scratch("share") + "/icons/TestTheme";
    std::filesystem::create_directories(theme);
    std::ofstream(theme + "/index.theme")
        << "[Icon Theme]\nName=TestTheme\nDirectories=16x16/places,32x32/places\n\n"
           "[16x16/places]\nSize=16\nType=Fixed\n\n[32x32/places]\nSize=32\nType=Fixed\n";
    WritePng(theme + "/16x16/places/folder.png", 16, 0xFF2040C0);
    WritePng(theme + "/32x32/places/folder.png", 32, 0xFF2040C0);
    std::filesystem::create_directories(m_home + "/.config/gtk-3.0");
    std::ofstream(m_home + "/.config/gtk-3.0/settings.ini") << "[Settings]\ngtk-icon-theme-name=TestTheme\n";
    m_drive.MakeFolder("pics");
    m_drive.Write("doc.unknown-type", "x");

    SHFILEINFOW small{}, large{};
    const auto smallList = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoW(m_drive.Path("pics").c_str(), 0, &small, sizeof small, SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    const auto largeList = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoW(m_drive.Path("pics").c_str(), 0, &large, sizeof large, SHGFI_SYSICONINDEX));
    ASSERT_NE(smallList, nullptr);
    ASSERT_NE(largeList, nullptr);
    EXPECT_NE(smallList, largeList);
    EXPECT_EQ(small.iIcon, large.iIcon);
    platform::ui::ImagePixels pixels;
    ASSERT_TRUE(platform::ui::GetImagePixels(smallList, small.iIcon, pixels));
    EXPECT_EQ(pixels.width, 16);
    EXPECT_EQ(pixels.argb[8 * 16 + 8], 0xFF2040C0u);
    ASSERT_TRUE(platform::ui::GetImagePixels(largeList, large.iIcon, pixels));
    EXPECT_EQ(pixels.width, 32);
    EXPECT_EQ(pixels.argb[16 * 32 + 16], 0xFF2040C0u);

    // The theme has no file icon: the layer draws one; the same kind gets the same index again.
    SHFILEINFOW file{}, again{};
    ASSERT_NE(SHGetFileInfoW(m_drive.Path("doc.unknown-type").c_str(), 0, &file, sizeof file,
                             SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_ATTRIBUTES | SHGFI_DISPLAYNAME),
              0u);
    EXPECT_NE(file.iIcon, small.iIcon);
    EXPECT_EQ(file.dwAttributes & SFGAO_FOLDER, 0u);
    EXPECT_EQ(std::u16string(file.szDisplayName), u"doc.unknown-type");
    SHGetFileInfoW(m_drive.Path("doc.unknown-type").c_str(), 0, &again, sizeof again, SHGFI_SYSICONINDEX);
    EXPECT_EQ(again.iIcon, file.iIcon);

    // By item id list, with the open form and a real icon handle.
    List pics = Parse(m_drive.Path("pics"));
    SHFILEINFOW open{};
    ASSERT_NE(SHGetFileInfoW(reinterpret_cast<LPCWSTR>(pics.get()), 0, &open, sizeof open,
                             SHGFI_PIDL | SHGFI_ICON | SHGFI_SMALLICON | SHGFI_OPENICON),
              0u);
    EXPECT_NE(open.hIcon, nullptr);
    DestroyIcon(open.hIcon);
    // A path that does not exist has no information unless its attributes are given.
    EXPECT_EQ(SHGetFileInfoW(m_drive.Path("nope").c_str(), 0, &open, sizeof open, SHGFI_SYSICONINDEX), 0u);
    EXPECT_NE(SHGetFileInfoW(u"nope.txt", FILE_ATTRIBUTE_NORMAL, &open, sizeof open,
                             SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES),
              0u);
}

TEST(ShellModuleTest, ChangeNotificationsAreFoundByOrdinal) {
    HMODULE shell = LoadLibraryW(u"SHELL32.DLL");
    ASSERT_NE(shell, nullptr);
    EXPECT_NE(GetProcAddress(shell, reinterpret_cast<LPCSTR>(2)), nullptr);
    EXPECT_NE(GetProcAddress(shell, reinterpret_cast<LPCSTR>(4)), nullptr);
    EXPECT_EQ(GetProcAddress(shell, reinterpret_cast<LPCSTR>(3)), nullptr);
    EXPECT_EQ(GetProcAddress(shell, reinterpret_cast<LPCSTR>(2)), GetProcAddress(shell, "SHChangeNotifyRegister"));
    FreeLibrary(shell);
}

} // namespace
