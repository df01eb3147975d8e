#include "platform/system/environment.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"

#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

extern char** environ;

namespace {

std::mutex& EnvironmentMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

// The host name of the variable `name` refers to: the exact spelling when it exists, else the first that matches
// without regard to case.
std::optional<std::string> HostName(std::u16string_view name) {
    const std::string exact = platform::Utf16ToUtf8(name);
    if (std::getenv(exact.c_str()))
        return exact;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view text(*entry);
        const size_t equals = text.find('=');
        if (equals == std::string_view::npos || equals == 0)
            continue;
        const std::string candidate(text.substr(0, equals));
        if (platform::EqualsNoCase(platform::Utf8ToUtf16(candidate), name))
            return candidate;
    }
    return std::nullopt;
}

std::optional<std::u16string> Lookup(std::u16string_view name) {
    const auto host = HostName(name);
    if (!host)
        return std::nullopt;
    const char* value = std::getenv(host->c_str());
    return value ? std::optional(platform::Utf8ToUtf16(value)) : std::nullopt;
}

} // namespace

DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size) {
    if (!source) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string expanded;
    {
        std::lock_guard lock(EnvironmentMutex());
        const std::u16string_view text(source);
        size_t i = 0;
        while (i < text.size()) {
            const size_t open = text.find(u'%', i);
            if (open == std::u16string_view::npos) {
                expanded.append(text.substr(i));
                break;
            }
            expanded.append(text.substr(i, open - i));
            const size_t close = text.find(u'%', open + 1);
            if (close == std::u16string_view::npos) {
                expanded.append(text.substr(open));
                break;
            }
            const std::u16string_view name = text.substr(open + 1, close - open - 1);
            const auto value = name.empty() ? std::nullopt : Lookup(name);
            if (value)
                expanded.append(*value);
            else
                expanded.append(text.substr(open, close - open + 1));
            i = close + 1;
        }
    }
    const auto needed = static_cast<DWORD>(expanded.size() + 1);
    if (destination && size >= needed) {
        std::copy(expanded.begin(), expanded.end(), destination);
        destination[expanded.size()] = u'\0';
    }
    return needed;
}

DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    if (!name || !*name) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    std::optional<std::u16string> value;
    {
        std::lock_guard lock(EnvironmentMutex());
        value = Lookup(name);
    }
    if (!value) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    if (!buffer || value->size() + 1 > size)
        return static_cast<DWORD>(value->size() + 1);
    std::copy(value->begin(), value->end(), buffer);
    buffer[value->size()] = u'\0';
    if (value->empty())
        SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(value->size());
}

BOOL SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value) {
    if (!name || !*name || std::u16string_view(name).find(u'=') != std::u16string_view::npos) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lock(EnvironmentMutex());
    // One variable per name whatever its case: an existing spelling is replaced.
    if (const auto existing = HostName(name))
        unsetenv(existing->c_str());
    if (!value)
        return TRUE;
    if (setenv(platform::Utf16ToUtf8(name).c_str(), platform::Utf16ToUtf8(value).c_str(), 1) != 0) {
        platform::FailErrno();
        return FALSE;
    }
    return TRUE;
}
