#include "platform/system/sysinfo.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

namespace {

struct Version {
    DWORD platform = VER_PLATFORM_WIN32_NT;
    DWORD major = 6;
    DWORD minor = 0;
    DWORD build = 6002;
    std::u16string csd = u"Service Pack 2";
    WORD spMajor = 2;
    WORD spMinor = 0;
    WORD suite = 0x0100; // VER_SUITE_SINGLEUSERTS, as every workstation reports
    BYTE product = VER_NT_WORKSTATION;
};

std::string Trim(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return {};
    const size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

std::optional<unsigned long> Number(const std::string& text, unsigned long max) {
    if (text.empty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (errno || *end || value > max || text[0] == '-')
        return std::nullopt;
    return value;
}

void Complain(const std::string& file, const std::string& line) {
    std::fprintf(stderr, "%s: cannot use \"%s\"; the default version applies\n", file.c_str(), line.c_str());
}

// The emulated version: the machine folder's "version" file over the defaults.
Version ReadVersion() {
    Version version;
    const std::string path = platform::machine::PathOf("version");
    std::ifstream in(path);
    if (!in)
        return version;
    Version parsed;
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        const size_t equals = line.find('=');
        const std::string key = equals == std::string::npos ? line : Trim(line.substr(0, equals));
        const std::string value = equals == std::string::npos ? std::string() : Trim(line.substr(equals + 1));
        std::optional<unsigned long> number;
        bool ok = true;
        if (key == "csd") {
            parsed.csd = platform::Utf8ToUtf16(value);
        } else if (key == "platform" && (number = Number(value, 3))) {
            parsed.platform = static_cast<DWORD>(*number);
        } else if (key == "major" && (number = Number(value, 255))) {
            parsed.major = static_cast<DWORD>(*number);
        } else if (key == "minor" && (number = Number(value, 255))) {
            parsed.minor = static_cast<DWORD>(*number);
        } else if (key == "build" && (number = Number(value, 0xFFFF))) {
            parsed.build = static_cast<DWORD>(*number);
        } else if (key == "spmajor" && (number = Number(value, 0xFFFF))) {
            parsed.spMajor = static_cast<WORD>(*number);
        } else if (key == "spminor" && (number = Number(value, 0xFFFF))) {
            parsed.spMinor = static_cast<WORD>(*number);
        } else if (key == "suite" && (number = Number(value, 0xFFFF))) {
            parsed.suite = static_cast<WORD>(*number);
        } else if (key == "product" && (number = Number(value, 255))) {
            parsed.product = static_cast<BYTE>(*number);
        } else {
            ok = false;
        }
        if (!ok) {
            Complain(path, line);
            return version;
        }
    }
    return parsed;
}

// The build number as GetVersionEx reports it: the 9x family keeps the version in the high word.
DWORD ReportedBuild(const Version& version) {
    if (version.platform == VER_PLATFORM_WIN32_WINDOWS)
        return version.build | (version.major << 24) | (version.minor << 16);
    return version.build;
}

} // namespace

BOOL GetVersionExW(LPOSVERSIONINFOW info) {
    if (!info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD size = info->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOW) && size != sizeof(OSVERSIONINFOEXW)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const Version version = ReadVersion();
    info->dwMajorVersion = version.major;
    info->dwMinorVersion = version.minor;
    info->dwBuildNumber = ReportedBuild(version);
    info->dwPlatformId = version.platform;
    platform::CopyTruncated(info->szCSDVersion, 128, version.csd);
    if (size == sizeof(OSVERSIONINFOEXW)) {
        auto* ex = reinterpret_cast<LPOSVERSIONINFOEXW>(info);
        ex->wServicePackMajor = version.spMajor;
        ex->wServicePackMinor = version.spMinor;
        ex->wSuiteMask = version.suite;
        ex->wProductType = version.product;
        ex->wReserved = 0;
    }
    return TRUE;
}

DWORD GetVersion() {
    const Version version = ReadVersion();
    DWORD high = version.build & 0xFFFF;
    if (version.platform != VER_PLATFORM_WIN32_NT)
        high = 0x8000 | (version.build & 0x7FFF);
    return (version.major & 0xFF) | ((version.minor & 0xFF) << 8) | (high << 16);
}

LANGID GetUserDefaultUILanguage() {
    constexpr LANGID kEnglishUs = 0x0409;
    const std::string path = platform::machine::PathOf("uilanguage");
    std::ifstream in(path);
    if (!in)
        return kEnglishUs;
    std::string text;
    std::getline(in, text);
    text = Trim(text);
    const auto number = Number(text, 0xFFFF);
    if (!number) {
        std::fprintf(stderr, "%s: cannot use \"%s\"; 0x0409 applies\n", path.c_str(), text.c_str());
        return kEnglishUs;
    }
    return static_cast<LANGID>(*number);
}

UINT GetWindowsDirectoryW(LPWSTR buffer, UINT size) {
    std::string text;
    std::ifstream in(platform::machine::PathOf("windowsdir"));
    if (in)
        std::getline(in, text);
    text = Trim(text);
    const std::u16string folder = text.empty() ? std::u16string(u"C:\\Windows") : platform::Utf8ToUtf16(text);
    if (!buffer || size <= folder.size())
        return static_cast<UINT>(folder.size() + 1);
    std::copy(folder.begin(), folder.end(), buffer);
    buffer[folder.size()] = 0;
    return static_cast<UINT>(folder.size());
}

BOOL GetComputerNameW(LPWSTR buffer, LPDWORD size) {
    if (!size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host - 1) != 0) {
        platform::FailErrno();
        return FALSE;
    }
    std::u16string name = platform::Utf8ToUtf16(std::string(host).substr(0, std::string(host).find('.')));
    for (auto& c : name)
        c = platform::FoldUpper(c);
    if (name.size() > MAX_COMPUTERNAME_LENGTH)
        name.resize(MAX_COMPUTERNAME_LENGTH);
    if (!buffer || *size < name.size() + 1) {
        *size = static_cast<DWORD>(name.size() + 1);
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = u'\0';
    *size = static_cast<DWORD>(name.size());
    return TRUE;
}

BOOL GetUserNameW(LPWSTR buffer, LPDWORD size) {
    if (!size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::u16string name;
    if (const passwd* entry = getpwuid(geteuid()); entry && entry->pw_name && *entry->pw_name) {
        name = platform::Utf8ToUtf16(entry->pw_name);
    } else if (const char* user = std::getenv("USER"); user && *user) {
        name = platform::Utf8ToUtf16(user);
    } else {
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    }
    const auto needed = static_cast<DWORD>(name.size() + 1);
    if (!buffer || *size < needed) {
        *size = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = u'\0';
    *size = needed;
    return TRUE;
}
