#include "platform/registry/ini.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/fs/paths.h"
#include "platform/fs/wholefile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

enum class Encoding { Ansi, Utf8Bom, Utf16 };

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr char kUtf16Bom[] = "\xFF\xFE";

// One line of the file: its original bytes (end of line excluded) and its text. A line the write changes or adds
// is encoded again from its text; every other line is written back byte for byte.
struct Line {
    std::string raw;
    std::u16string text;
    bool hasEnd = true;
    bool changed = false;
};

struct IniText {
    Encoding encoding = Encoding::Ansi;
    std::u16string lineEnd = u"\r\n";
    std::vector<Line> lines;
};

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

std::u16string Trim(std::u16string_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && (IsBlank(text[end - 1]) || text[end - 1] == u'\r'))
        --end;
    return std::u16string(text.substr(begin, end - begin));
}

// What a line is to the profile functions.
struct Parsed {
    enum Kind { Blank, Comment, Section, Key } kind = Blank;
    std::u16string name;
    std::u16string value;
};

Parsed Parse(const std::u16string& line) {
    Parsed parsed;
    const std::u16string text = Trim(line);
    if (text.empty())
        return parsed;
    if (text[0] == u';') {
        parsed.kind = Parsed::Comment;
        return parsed;
    }
    if (text[0] == u'[') {
        parsed.kind = Parsed::Section;
        const size_t close = text.find(u']');
        parsed.name = Trim(std::u16string_view(text).substr(1, close == std::u16string::npos ? close : close - 1));
        return parsed;
    }
    parsed.kind = Parsed::Key;
    const size_t equals = text.find(u'=');
    if (equals == std::u16string::npos) {
        parsed.name = text;
        return parsed;
    }
    parsed.name = Trim(std::u16string_view(text).substr(0, equals));
    std::u16string value = Trim(std::u16string_view(text).substr(equals + 1));
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    parsed.value = std::move(value);
    return parsed;
}

std::string Encode(const std::u16string& text, Encoding encoding) {
    if (encoding != Encoding::Utf16)
        return platform::Utf16ToUtf8(text);
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::u16string DecodeUtf16(std::string_view bytes) {
    std::u16string text(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                        (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return text;
}

IniText Split(const std::string& content) {
    IniText ini;
    std::string_view rest(content);
    size_t unit = 1;
    if (rest.substr(0, 2) == std::string_view(kUtf16Bom, 2)) {
        ini.encoding = Encoding::Utf16;
        rest.remove_prefix(2);
        unit = 2;
    } else if (rest.substr(0, 3) == std::string_view(kUtf8Bom, 3)) {
        ini.encoding = Encoding::Utf8Bom;
        rest.remove_prefix(3);
    }
    bool endSeen = false;
    while (!rest.empty()) {
        size_t end = 0;
        bool found = false;
        for (; end + unit <= rest.size(); end += unit) {
            if (rest[end] == '\n' && (unit == 1 || rest[end + 1] == '\0')) {
                found = true;
                break;
            }
        }
        Line line;
        line.raw = std::string(found ? rest.substr(0, end) : rest);
        line.hasEnd = found;
        std::u16string text = unit == 2 ? DecodeUtf16(line.raw) : platform::Utf8ToUtf16(line.raw);
        const bool crlf = !text.empty() && text.back() == u'\r';
        if (crlf)
            text.pop_back();
        if (found && !endSeen) {
            ini.lineEnd = crlf ? u"\r\n" : u"\n";
            endSeen = true;
        }
        line.text = std::move(text);
        ini.lines.push_back(std::move(line));
        rest.remove_prefix(found ? end + unit : rest.size());
    }
    return ini;
}

std::string Join(const IniText& ini) {
    std::string content;
    if (ini.encoding == Encoding::Utf16)
        content.append(kUtf16Bom, 2);
    else if (ini.encoding == Encoding::Utf8Bom)
        content.append(kUtf8Bom, 3);
    const std::string lineEnd = Encode(ini.lineEnd, ini.encoding);
    for (size_t i = 0; i < ini.lines.size(); ++i) {
        const Line& line = ini.lines[i];
        if (line.changed) {
            content += Encode(line.text, ini.encoding);
            content += lineEnd;
            continue;
        }
        content += line.raw;
        // The file's last line may lack an end; it gets one when lines now follow it.
        if (line.hasEnd || i + 1 < ini.lines.size())
            content += line.hasEnd ? Encode(u"\n", ini.encoding) : lineEnd;
    }
    return content;
}

std::optional<std::string> HostFile(LPCWSTR fileName) {
    if (!fileName || !*fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    auto host = platform::fs::ToHost(fileName);
    if (!host)
        return std::nullopt;
    if (host->kind != platform::fs::PathKind::File) {
        SetLastError(ERROR_ACCESS_DENIED);
        return std::nullopt;
    }
    return host->path;
}

// Reads the whole file. A missing file is ERROR_FILE_NOT_FOUND (ERROR_PATH_NOT_FOUND without its folder).
DWORD ReadWhole(const std::string& path, std::string& content) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return platform::Win32ErrorFromErrno(errno);
    content.clear();
    char buffer[16384];
    DWORD error = ERROR_SUCCESS;
    while (true) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = platform::Win32ErrorFromErrno(errno);
            break;
        }
        if (got == 0)
            break;
        content.append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    return error;
}

DWORD Load(LPCWSTR fileName, IniText& ini, std::string* hostPath = nullptr) {
    auto path = HostFile(fileName);
    if (!path)
        return GetLastError();
    if (hostPath)
        *hostPath = *path;
    std::string content;
    if (DWORD error = ReadWhole(*path, content))
        return error;
    ini = Split(content);
    return ERROR_SUCCESS;
}

// Serialises writers of every process of the machine: each write reads, changes and replaces the whole file.
class WriterLock {
public:
    WriterLock() {
        m_fd = open(platform::machine::PathOf("ini.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            while (flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~WriterLock() {
        if (m_fd >= 0)
            close(m_fd); // releases the lock
    }
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

private:
    int m_fd = -1;
};

// Index of the first section with this name, or npos.
size_t FindSection(const IniText& ini, std::u16string_view section) {
    for (size_t i = 0; i < ini.lines.size(); ++i) {
        const Parsed parsed = Parse(ini.lines[i].text);
        if (parsed.kind == Parsed::Section && platform::EqualsNoCase(parsed.name, section))
            return i;
    }
    return std::u16string::npos;
}

// One past the section's last line: the next section's header or the end of the file.
size_t SectionEnd(const IniText& ini, size_t header) {
    size_t i = header + 1;
    while (i < ini.lines.size() && Parse(ini.lines[i].text).kind != Parsed::Section)
        ++i;
    return i;
}

size_t FindKey(const IniText& ini, size_t header, std::u16string_view key) {
    const size_t end = SectionEnd(ini, header);
    for (size_t i = header + 1; i < end; ++i) {
        const Parsed parsed = Parse(ini.lines[i].text);
        if (parsed.kind == Parsed::Key && platform::EqualsNoCase(parsed.name, key))
            return i;
    }
    return std::u16string::npos;
}

Line NewLine(std::u16string text) {
    Line line;
    line.text = std::move(text);
    line.changed = true;
    return line;
}

// Copies a list of names, each ending with a zero, then one more zero; truncation keeps two zeros at the end.
DWORD CopyList(const std::vector<std::u16string>& names, LPWSTR buffer, DWORD size) {
    std::u16string list;
    for (const auto& name : names) {
        list += name;
        list.push_back(u'\0');
    }
    if (size == 0)
        return 0;
    if (list.size() + 1 <= size) {
        std::copy(list.begin(), list.end(), buffer);
        buffer[list.size()] = u'\0';
        if (list.empty() && size >= 2)
            buffer[1] = u'\0';
        return static_cast<DWORD>(list.size());
    }
    if (size < 2) {
        buffer[0] = u'\0';
        return 0;
    }
    std::copy(list.begin(), list.begin() + (size - 2), buffer);
    buffer[size - 2] = u'\0';
    buffer[size - 1] = u'\0';
    SetLastError(ERROR_MORE_DATA);
    return size - 2;
}

DWORD CopyValue(const std::u16string& value, LPWSTR buffer, DWORD size) {
    if (size == 0)
        return 0;
    if (value.size() < size) {
        std::copy(value.begin(), value.end(), buffer);
        buffer[value.size()] = u'\0';
        return static_cast<DWORD>(value.size());
    }
    std::copy(value.begin(), value.begin() + (size - 1), buffer);
    buffer[size - 1] = u'\0';
    SetLastError(ERROR_MORE_DATA);
    return size - 1;
}

// The value of section/key, or nothing; sets the last error when the file cannot be read.
std::optional<std::u16string> Lookup(LPCWSTR section, LPCWSTR key, LPCWSTR fileName) {
    IniText ini;
    if (DWORD error = Load(fileName, ini)) {
        SetLastError(error);
        return std::nullopt;
    }
    const size_t header = FindSection(ini, section);
    if (header == std::u16string::npos)
        return std::nullopt;
    const size_t line = FindKey(ini, header, key);
    if (line == std::u16string::npos)
        return std::nullopt;
    return Parse(ini.lines[line].text).value;
}

} // namespace

DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR buffer, DWORD size,
                               LPCWSTR fileName) {
    if (!buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!section || !key) {
        std::vector<std::u16string> names;
        IniText ini;
        if (DWORD error = Load(fileName, ini)) {
            SetLastError(error);
        } else if (!section) {
            for (const auto& line : ini.lines) {
                Parsed parsed = Parse(line.text);
                if (parsed.kind == Parsed::Section)
                    names.push_back(std::move(parsed.name));
            }
        } else if (const size_t header = FindSection(ini, section); header != std::u16string::npos) {
            const size_t end = SectionEnd(ini, header);
            for (size_t i = header + 1; i < end; ++i) {
                Parsed parsed = Parse(ini.lines[i].text);
                if (parsed.kind == Parsed::Key)
                    names.push_back(std::move(parsed.name));
            }
        }
        return CopyList(names, buffer, size);
    }
    if (auto value = Lookup(section, key, fileName))
        return CopyValue(*value, buffer, size);
    std::u16string fallback = defaultValue ? std::u16string(defaultValue) : std::u16string();
    while (!fallback.empty() && fallback.back() == u' ')
        fallback.pop_back();
    return CopyValue(fallback, buffer, size);
}

UINT GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT defaultValue, LPCWSTR fileName) {
    if (!section || !key)
        return static_cast<UINT>(defaultValue);
    auto value = Lookup(section, key, fileName);
    if (!value)
        return static_cast<UINT>(defaultValue);
    size_t i = 0;
    bool negative = false;
    if (i < value->size() && ((*value)[i] == u'-' || (*value)[i] == u'+'))
        negative = (*value)[i++] == u'-';
    uint32_t number = 0;
    for (; i < value->size() && (*value)[i] >= u'0' && (*value)[i] <= u'9'; ++i)
        number = number * 10 + static_cast<uint32_t>((*value)[i] - u'0');
    return negative ? 0u - number : number;
}

BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR fileName) {
    if (!section) {
        // With everything null Windows flushes its cache; there is none here.
        if (!key && !value)
            return TRUE;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    WriterLock lock;
    IniText ini;
    std::string path;
    DWORD error = Load(fileName, ini, &path);
    if (error == ERROR_FILE_NOT_FOUND && !path.empty()) {
        // Deleting from a file that does not exist changes nothing.
        if (!key || !value)
            return TRUE;
        ini = IniText();
    } else if (error) {
        SetLastError(error);
        return FALSE;
    }

    const size_t header = FindSection(ini, section);
    if (!key) {
        if (header == std::u16string::npos)
            return TRUE;
        ini.lines.erase(ini.lines.begin() + static_cast<ptrdiff_t>(header),
                        ini.lines.begin() + static_cast<ptrdiff_t>(SectionEnd(ini, header)));
    } else if (!value) {
        const size_t line = header == std::u16string::npos ? header : FindKey(ini, header, key);
        if (line == std::u16string::npos)
            return TRUE;
        ini.lines.erase(ini.lines.begin() + static_cast<ptrdiff_t>(line));
    } else if (header == std::u16string::npos) {
        if (!ini.lines.empty() && !Trim(ini.lines.back().text).empty())
            ini.lines.push_back(NewLine(u""));
        ini.lines.push_back(NewLine(u"[" + std::u16string(section) + u"]"));
        ini.lines.push_back(NewLine(std::u16string(key) + u"=" + value));
    } else if (const size_t line = FindKey(ini, header, key); line != std::u16string::npos) {
        // The key keeps the spelling it has in the file.
        Line& existing = ini.lines[line];
        existing.text = Parse(existing.text).name + u"=" + value;
        existing.changed = true;
    } else {
        // A new key goes after the section's last non-blank line.
        size_t at = SectionEnd(ini, header);
        while (at > header + 1 && Trim(ini.lines[at - 1].text).empty())
            --at;
        ini.lines.insert(ini.lines.begin() + static_cast<ptrdiff_t>(at), NewLine(std::u16string(key) + u"=" + value));
    }

    if ((error = platform::fs::WriteWholeFile(path, Join(ini)))) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}
