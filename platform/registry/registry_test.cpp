#include "platform/registry/registry.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"

#include "platform/testing/child_test.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

Bytes Utf16Bytes(std::u16string_view text, bool withTerminator = true) {
    Bytes bytes(reinterpret_cast<const BYTE*>(text.data()), reinterpret_cast<const BYTE*>(text.data() + text.size()));
    if (withTerminator)
        bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

// An open key closed at the end of the scope.
class Key {
public:
    Key() = default;
    ~Key() {
        if (m_key)
            RegCloseKey(m_key);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* operator&() { return &m_key; }
    operator HKEY() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

Bytes Query(HKEY key, LPCWSTR name, DWORD* type = nullptr) {
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, name, nullptr, type, nullptr, &size));
    Bytes data(size);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, name, nullptr, type, data.data(), &size));
    data.resize(size);
    return data;
}

std::vector<std::u16string> ValueNames(HKEY key) {
    std::vector<std::u16string> names;
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD size = 256;
        const LONG rc = RegEnumValueW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        EXPECT_EQ(ERROR_SUCCESS, rc);
        names.emplace_back(name, size);
    }
    return names;
}

std::vector<std::u16string> KeyNames(HKEY key) {
    std::vector<std::u16string> names;
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD size = 256;
        const LONG rc = RegEnumKeyExW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        EXPECT_EQ(ERROR_SUCCESS, rc);
        names.emplace_back(name, size);
    }
    return names;
}

TEST(Registry, ValuesKeepTheirTypeAndRawBytes) {
    platform::machine::ScopedTestMachine machine;
    Key key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Test", 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    const DWORD one = 1;
    const struct {
        const char16_t* name;
        DWORD type;
        Bytes data;
    } cases[] = {
        // A string value holding the four bytes of an integer, as settings writers do.
        {u"RunMode", REG_SZ, Bytes(reinterpret_cast<const BYTE*>(&one), reinterpret_cast<const BYTE*>(&one) + 4)},
        {u"Odd", REG_SZ, Bytes{'a', 0, 'b'}},
        {u"Text", REG_SZ, Utf16Bytes(u"C:")},
        {u"Expand", REG_EXPAND_SZ, Utf16Bytes(u"%TEMP%\\x")},
        {u"Blob", REG_BINARY, Bytes{0, 1, 2, 0xFF, 0, 0}},
        {u"Empty", REG_BINARY, Bytes{}},
        {u"Number", REG_DWORD, Bytes{0x78, 0x56, 0x34, 0x12}},
        {u"Big", REG_DWORD_BIG_ENDIAN, Bytes{0x12, 0x34, 0x56, 0x78}},
        {u"Multi", REG_MULTI_SZ, Bytes{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
        {u"Wide", REG_QWORD, Bytes{1, 2, 3, 4, 5, 6, 7, 8}},
        {u"Strange", 0x12345u, Bytes{9}},
        {u"", REG_SZ, Utf16Bytes(u"default")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::Utf16ToUtf8(c.name));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key, c.name, 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size())));
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::Utf16ToUtf8(c.name));
        DWORD type = 0xDEAD;
        EXPECT_EQ(c.data, Query(key, c.name, &type));
        EXPECT_EQ(c.type, type);
    }
    // A null name is the default value too.
    EXPECT_EQ(Utf16Bytes(u"default"), Query(key, nullptr));
}

TEST(Registry, QueryReportsSizesAndMissingValues) {
    platform::machine::ScopedTestMachine machine;
    Key key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_USER, u"Software\\Test", &key));
    const Bytes data = Utf16Bytes(u"abcdef");
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, u"Name", 0, REG_SZ, data.data(), static_cast<DWORD>(data.size())));

    BYTE small[4] = {0x55, 0x55, 0x55, 0x55};
    DWORD size = sizeof small;
    DWORD type = 0;
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExW(key, u"Name", nullptr, &type, small, &size));
    EXPECT_EQ(data.size(), size);
    EXPECT_EQ(REG_SZ, type);

    size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"Name", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(data.size(), size);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"Name", nullptr, &type, nullptr, nullptr));

    size = 100;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key, u"Missing", nullptr, nullptr, small, &size));
    // No default value was set.
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key, u"", nullptr, nullptr, small, &size));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExW(key, u"Name", nullptr, nullptr, small, nullptr));

    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, u"NAME"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(key, u"Name"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key, u"Name", nullptr, nullptr, nullptr, &size));
}

TEST(Registry, NamesIgnoreCaseAndKeepTheirSpelling) {
    platform::machine::ScopedTestMachine machine;
    Key first;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\MixedCase\\Sub", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &first, &disposition));
    EXPECT_EQ(REG_CREATED_NEW_KEY, disposition);
    Key second;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, u"SOFTWARE\\mixedcase\\SUB\\", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &second, &disposition));
    EXPECT_EQ(REG_OPENED_EXISTING_KEY, disposition);

    const DWORD value = 7;
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(first, u"DestSerialNo", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(second, u"DESTSERIALNO", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4));
    EXPECT_EQ(std::vector<std::u16string>{u"DestSerialNo"}, ValueNames(second));

    Key software;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"software", 0, KEY_READ, &software));
    EXPECT_EQ(std::vector<std::u16string>{u"MixedCase"}, KeyNames(software));
}

TEST(Registry, EnumerationFollowsCreationOrder) {
    platform::machine::ScopedTestMachine machine;
    Key key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Order", &key));
    for (const char16_t* name : {u"zeta", u"Alpha", u"mid"}) {
        Key sub;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(key, name, &sub));
        const BYTE byte = 1;
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, REG_BINARY, &byte, 1));
    }
    // Setting a value again keeps its place; a deleted and re-created one moves to the end.
    const BYTE two[2] = {2, 2};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, u"ZETA", 0, REG_BINARY, two, 2));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, u"Alpha"));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, u"Alpha", 0, REG_BINARY, two, 2));

    EXPECT_EQ((std::vector<std::u16string>{u"zeta", u"Alpha", u"mid"}), KeyNames(key));
    EXPECT_EQ((std::vector<std::u16string>{u"zeta", u"mid", u"Alpha"}), ValueNames(key));

    // Too small a name buffer: ERROR_MORE_DATA and the sizes stay as they were.
    WCHAR name[8];
    DWORD nameSize = 4;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExW(key, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(4u, nameSize);
    nameSize = 5;
    FILETIME written{};
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExW(key, 0, name, &nameSize, nullptr, nullptr, nullptr, &written));
    EXPECT_EQ(4u, nameSize);
    EXPECT_NE(0u, written.dwHighDateTime);

    // Too small a data buffer: the name comes back with the size the data needs.
    BYTE data[1];
    DWORD dataSize = 1;
    DWORD type = 0;
    nameSize = 5;
    WCHAR valueName[5];
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(key, 0, valueName, &nameSize, nullptr, &type, data, &dataSize));
    EXPECT_EQ(2u, dataSize);
    EXPECT_EQ(REG_BINARY, type);
    EXPECT_EQ(std::u16string(u"zeta"), std::u16string(valueName, nameSize));

    nameSize = 4;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueW(key, 3, name, &nameSize, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExW(key, 3, name, &nameSize, nullptr, nullptr, nullptr, nullptr));

    DWORD subKeys = 0, maxSubKey = 0, values = 0, maxValueName = 0, maxValue = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr, &values,
                                              &maxValueName, &maxValue, nullptr, nullptr));
    EXPECT_EQ(3u, subKeys);
    EXPECT_EQ(5u, maxSubKey);
    EXPECT_EQ(3u, values);
    EXPECT_EQ(5u, maxValueName);
    EXPECT_EQ(2u, maxValue);
}

TEST(Registry, DeleteKeyRefusesSubkeysAndInvalidatesHandles) {
    platform::machine::ScopedTestMachine machine;
    Key child;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_LOCAL_MACHINE, u"DriveIcons\\F\\DefaultLabel", &child));
    Key letter;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"DriveIcons\\F", 0, KEY_READ, &letter));
    const BYTE byte = 1;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(child, nullptr, 0, REG_SZ, &byte, 1));

    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"DriveIcons\\F"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(letter, u"defaultlabel"));
    EXPECT_EQ(ERROR_KEY_DELETED, RegSetValueExW(child, nullptr, 0, REG_SZ, &byte, 1));
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryInfoKeyW(child, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                  nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(letter, u"DefaultLabel"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"DriveIcons\\F"));
    WCHAR name[16];
    DWORD nameSize = 16;
    EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyExW(letter, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr));
    Key gone;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"DriveIcons\\F", 0, KEY_READ, &gone));
    // A root cannot be deleted.
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_CURRENT_USER, u""));
}

TEST(Registry, HandlesAndAccessAreChecked) {
    platform::machine::ScopedTestMachine machine;
    Key reader;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Missing", 0, KEY_READ, &reader));
    {
        Key created;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_USER, u"Software\\Present", &created));
    }
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Present", 0, KEY_READ, &reader));
    const BYTE byte = 1;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExW(reader, u"v", 0, REG_BINARY, &byte, 1));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueW(reader, u"v"));
    // Opening an existing subkey through a read-only handle works; creating a new one does not.
    Key existing;
    EXPECT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_CURRENT_USER, u"Software", 0, nullptr, 0, KEY_READ, nullptr, &existing, nullptr));
    Key sub;
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegCreateKeyExW(reader, u"New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr));
    Key writer;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Present", 0, KEY_SET_VALUE, &writer));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(writer, u"v", 0, REG_BINARY, &byte, 1));
    DWORD size = 0;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExW(writer, u"v", nullptr, nullptr, nullptr, &size));

    Key bad;
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegCreateKeyW(HKEY_CURRENT_USER, u"\\Software", &bad));
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegCreateKeyW(HKEY_CURRENT_USER, u"Software\\\\x", &bad));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyW(HKEY_CURRENT_USER, std::u16string(256, u'k').c_str(), &bad));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234))));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CURRENT_USER));
    EXPECT_EQ(ERROR_NOACCESS, RegSetValueExW(writer, u"v", 0, REG_BINARY, nullptr, 4));
}

TEST(Registry, SettingsSurviveReopeningTheStore) {
    platform::machine::ScopedTestMachine machine;
    {
        Key key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_USER, u"Software\\Persist", &key));
        const DWORD value = 42;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key, u"Answer", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4));
    }
    // Pointing the process at the same folder again drops every open hive, so the next call reads the file anew.
    platform::machine::SetFolder(machine.Folder());
    Key key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Persist", 0, KEY_READ, &key));
    DWORD type = 0;
    EXPECT_EQ((Bytes{42, 0, 0, 0}), Query(key, u"Answer", &type));
    EXPECT_EQ(REG_DWORD, type);
    // The other roots are separate hives.
    Key other;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Persist", 0, KEY_READ, &other));
}

constexpr int kWrites = 100;

// Sets values of one key, alternating one that the other process writes too and one of its own ("<who><n>").
void HammerSharedKey(const std::string& who) {
    Key key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_USER, u"Software\\Shared", &key));
    for (int i = 0; i < kWrites; ++i) {
        const DWORD value = static_cast<DWORD>(i);
        const std::u16string own = platform::Utf8ToUtf16(who + std::to_string(i));
        for (const std::u16string& name : {own, std::u16string(u"shared")})
            ASSERT_EQ(ERROR_SUCCESS,
                      RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4));
    }
}

// Runs only as the child of the next test.
TEST(RegistryChild, DISABLED_WritesValues) {
    if (!std::getenv("REGISTRY_TEST_CHILD"))
        FAIL() << "runs only as the child of TwoProcessesWritingOneKeyLoseNothing";
    testsupport::WaitForParent();
    HammerSharedKey("child");
}

// Every write of two processes that set values of one key at the same time goes through, and none is lost. How
// long a writer may wait for the other is measured by bench/registry_bench, not here.
TEST(Registry, TwoProcessesWritingOneKeyLoseNothing) {
    platform::machine::ScopedTestMachine machine;
    Key key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_USER, u"Software\\Shared", &key));
    testsupport::ChildTest child("RegistryChild.DISABLED_WritesValues", {{"REGISTRY_TEST_CHILD", "1"}});
    child.Release();
    HammerSharedKey("parent");
    const int status = child.Wait();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    for (const char* who : {"parent", "child"}) {
        for (int i = 0; i < kWrites; ++i) {
            const std::u16string name = platform::Utf8ToUtf16(who + std::to_string(i));
            EXPECT_EQ(Query(key, name.c_str()), (Bytes{static_cast<BYTE>(i), static_cast<BYTE>(i >> 8), 0, 0}))
                << who << i;
        }
    }
    EXPECT_EQ(Query(key, u"shared"), (Bytes{(kWrites - 1) & 0xFF, (kWrites - 1) >> 8, 0, 0}));
    EXPECT_EQ(ValueNames(key).size(), static_cast<size_t>(2 * kWrites + 1));
}

} // namespace
