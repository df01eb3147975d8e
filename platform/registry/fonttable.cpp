#include "platform/registry/fonttable.h"

#include "platform/base/strings.h"
#include "platform/registry/registry.h"

#include <fontconfig/fontconfig.h>
// After fontconfig.h, which it needs.
#include <fontconfig/fcfreetype.h>

#include <cstdlib>
#include <dirent.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace platform::registry {
namespace {

constexpr const char16_t* kTables[] = {u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
                                       u"Software\\Microsoft\\Windows\\CurrentVersion\\Fonts"};

std::string FontFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && *data)
        return std::string(data) + "/fonts";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/") + "/.local/share/fonts";
}

std::u16string Lower(std::u16string text) {
    for (auto& c : text)
        c = platform::FoldUpper(c);
    return text;
}

// The name Windows would give the font of a file: its family, its style unless that is the plain one, and the
// kind of outline; empty when fontconfig does not take the file for a font.
std::u16string DisplayName(const std::string& path) {
    int count = 0;
    FcPattern* pattern = FcFreeTypeQuery(reinterpret_cast<const FcChar8*>(path.c_str()), 0, nullptr, &count);
    if (!pattern)
        return {};
    FcChar8* family = nullptr;
    FcChar8* style = nullptr;
    std::string name;
    if (FcPatternGetString(pattern, FC_FAMILY, 0, &family) == FcResultMatch && family) {
        name = reinterpret_cast<const char*>(family);
        if (FcPatternGetString(pattern, FC_STYLE, 0, &style) == FcResultMatch && style) {
            const std::string s = reinterpret_cast<const char*>(style);
            if (s != "Regular" && s != "Book" && s != "Normal" && s != "Roman" && s != "Medium")
                name += " " + s;
        }
    }
    FcPatternDestroy(pattern);
    if (name.empty())
        return {};
    const size_t dot = path.rfind('.');
    std::string extension = dot == std::string::npos ? "" : path.substr(dot);
    for (auto& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".ttf" || extension == ".ttc")
        name += " (TrueType)";
    else if (extension == ".otf")
        name += " (OpenType)";
    return platform::Utf8ToUtf16(name);
}

void Refresh(const char16_t* table) {
    // The files of the folder, by their names without regard to case.
    std::map<std::u16string, std::string> files;
    const std::string folder = FontFolder();
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            struct ::stat info {};
            if (name == "." || name == ".." || stat((folder + "/" + name).c_str(), &info) != 0 ||
                !S_ISREG(info.st_mode))
                continue;
            files.emplace(Lower(platform::Utf8ToUtf16(name)), name);
        }
        closedir(dir);
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, table, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr))
        return;
    std::map<std::u16string, bool> named;
    std::vector<std::u16string> gone;
    std::vector<std::u16string> names;
    for (DWORD index = 0;; ++index) {
        WCHAR name[16384];
        BYTE data[4096 + 2] = {};
        DWORD nameSize = 16384, dataSize = 4096, type = 0;
        const LONG error = RegEnumValueW(key, index, name, &nameSize, nullptr, &type, data, &dataSize);
        if (error == ERROR_MORE_DATA)
            continue;
        if (error)
            break;
        names.emplace_back(name);
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            continue;
        std::u16string file(reinterpret_cast<const char16_t*>(data), dataSize / 2);
        file = file.substr(0, file.find(u'\0'));
        if (file.empty() || file.find_first_of(u"\\/") != std::u16string::npos)
            continue;
        if (files.count(Lower(file)))
            named[Lower(file)] = true;
        else
            gone.emplace_back(name);
    }
    for (const auto& name : gone)
        RegDeleteValueW(key, name.c_str());
    for (const auto& [lower, file] : files) {
        if (named.count(lower))
            continue;
        std::u16string display = DisplayName(folder + "/" + file);
        if (display.empty())
            continue;
        // A second file of the same family and style keeps the first one's value and gets its own name.
        std::u16string unique = display;
        for (int n = 2;; ++n) {
            bool taken = false;
            for (const auto& existing : names)
                taken = taken || Lower(existing) == Lower(unique);
            if (!taken)
                break;
            unique = display + u" #" + platform::Utf8ToUtf16(std::to_string(n));
        }
        const std::u16string data = platform::Utf8ToUtf16(file);
        if (RegSetValueExW(key, unique.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                           static_cast<DWORD>((data.size() + 1) * 2)) == ERROR_SUCCESS)
            names.push_back(unique);
    }
    RegCloseKey(key);
}

} // namespace

void RefreshFontTableIfNamed(LPCWSTR subKey) {
    if (!subKey)
        return;
    std::u16string path(subKey);
    while (!path.empty() && path.back() == u'\\')
        path.pop_back();
    for (const char16_t* table : kTables) {
        if (Lower(path) != Lower(table))
            continue;
        // The refresh opens the table itself.
        static thread_local bool busy = false;
        if (busy)
            return;
        busy = true;
        Refresh(table);
        busy = false;
        return;
    }
}

} // namespace platform::registry
