#include "platform/kernel/service_store.h"

#include "platform/base/machine.h"
#include "platform/base/strings.h"

#include <cstring>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::kernel::service_store {
namespace {

std::string Fold(const std::u16string& name) {
    std::u16string folded = name;
    for (auto& c : folded)
        c = platform::FoldUpper(c);
    return platform::Utf16ToUtf8(folded);
}

bool ValidName(const std::u16string& name) {
    return !name.empty() && name.find_first_of(u"/\\") == std::u16string::npos && name != u"." && name != u"..";
}

// Value file names: "v_" plus the folded name; the empty value name (the key's default value) is "v_".
std::string ValuePath(const std::u16string& serviceName, const std::u16string& valueName) {
    return KeyFolder(serviceName) + "/v_" + Fold(valueName);
}

bool WriteWhole(const std::string& path, const std::vector<uint8_t>& bytes) {
    const std::string temporary = path + ".tmp";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) && fsync(fd) == 0;
    close(fd);
    if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

std::string KeyFolder(const std::u16string& serviceName) {
    return platform::machine::PathOf("services/" + Fold(serviceName));
}

bool Exists(const std::u16string& serviceName) {
    std::error_code error;
    return ValidName(serviceName) && std::filesystem::is_directory(KeyFolder(serviceName), error);
}

bool Create(const std::u16string& serviceName) {
    if (!ValidName(serviceName))
        return false;
    std::error_code error;
    std::filesystem::create_directories(platform::machine::PathOf("services"), error);
    if (mkdir(KeyFolder(serviceName).c_str(), 0700) != 0)
        return false;
    // The name as created, for enumeration.
    const std::string display = platform::Utf16ToUtf8(serviceName);
    return WriteWhole(KeyFolder(serviceName) + "/name", std::vector<uint8_t>(display.begin(), display.end()));
}

bool Remove(const std::u16string& serviceName) {
    if (!ValidName(serviceName))
        return false;
    std::error_code error;
    return std::filesystem::remove_all(KeyFolder(serviceName), error) > 0 && !error;
}

bool SetValue(const std::u16string& serviceName, const std::u16string& valueName, DWORD type, const void* data,
              size_t size) {
    if (!Exists(serviceName))
        return false;
    std::vector<uint8_t> bytes(4 + size);
    memcpy(bytes.data(), &type, 4);
    if (size)
        memcpy(bytes.data() + 4, data, size);
    return WriteWhole(ValuePath(serviceName, valueName), bytes);
}

std::optional<Value> GetValue(const std::u16string& serviceName, const std::u16string& valueName) {
    if (!Exists(serviceName))
        return std::nullopt;
    std::ifstream in(ValuePath(serviceName, valueName), std::ios::binary);
    if (!in)
        return std::nullopt;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 4)
        return std::nullopt;
    Value value;
    memcpy(&value.type, bytes.data(), 4);
    value.data.assign(bytes.begin() + 4, bytes.end());
    return value;
}

bool SetString(const std::u16string& serviceName, const std::u16string& valueName, const std::u16string& text) {
    return SetValue(serviceName, valueName, 1 /* REG_SZ */, text.c_str(), (text.size() + 1) * sizeof(char16_t));
}

std::optional<std::u16string> GetString(const std::u16string& serviceName, const std::u16string& valueName) {
    auto value = GetValue(serviceName, valueName);
    if (!value || (value->type != 1 && value->type != 2))
        return std::nullopt;
    std::u16string text(value->data.size() / 2, u'\0');
    memcpy(text.data(), value->data.data(), text.size() * 2);
    while (!text.empty() && text.back() == u'\0')
        text.pop_back();
    return text;
}

bool SetDword(const std::u16string& serviceName, const std::u16string& valueName, DWORD value) {
    return SetValue(serviceName, valueName, 4 /* REG_DWORD */, &value, sizeof(value));
}

std::optional<DWORD> GetDword(const std::u16string& serviceName, const std::u16string& valueName) {
    auto value = GetValue(serviceName, valueName);
    if (!value || value->type != 4 || value->data.size() != 4)
        return std::nullopt;
    DWORD result;
    memcpy(&result, value->data.data(), 4);
    return result;
}

std::vector<std::u16string> Services() {
    std::vector<std::u16string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(platform::machine::PathOf("services"), error)) {
        std::ifstream in(entry.path() / "name", std::ios::binary);
        std::string name((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!name.empty())
            names.push_back(platform::Utf8ToUtf16(name));
    }
    return names;
}

} // namespace platform::kernel::service_store
