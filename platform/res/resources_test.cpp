#include "platform/res/resources.h"

#include "platform/base/errors.h"
#include "platform/base/format.h"
#include "platform/base/machine.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/fs/paths.h"
#include "platform/res/testdata/test_ids.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string ExeFolder() {
    std::string path(4096, '\0');
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    path.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(0, path.find_last_of('/'));
}

std::u16string ExeName() {
    std::string path(4096, '\0');
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    path.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return platform::Utf8ToUtf16(path.substr(path.find_last_of('/') + 1));
}

class ResourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::fs::DriveInfo bin;
        bin.letter = u'B';
        bin.hostRoot = ExeFolder();
        ASSERT_TRUE(platform::fs::SetDrive(bin));
        platform::fs::DriveInfo lang;
        lang.letter = u'L';
        lang.hostRoot = RES_TEST_LANG_DIR;
        ASSERT_TRUE(platform::fs::SetDrive(lang));
    }
    platform::machine::ScopedTestMachine m_machine;
};

TEST_F(ResourcesTest, LoadStringCopiesTruncatesAndHandsOutPointers) {
    struct Case {
        UINT id;
        int bufferMax;
        int expectedResult;
        std::u16string expectedText;
    };
    const Case cases[] = {
        {IDS_HELLO, 64, 5, u"Hello"},
        {IDS_LONG, 17, 16, u"0123456789ABCDEF"}, // exactly fits with the terminator
        {IDS_LONG, 16, 15, u"0123456789ABCDE"},  // one short: cut and terminated
        {IDS_LONG, 1, 0, u""},
        {IDS_ESCAPES, 64, 36, u"Tab\there, quote \" and \\ and \u00e9 and \u00fc\n"},
        {IDS_SECOND_BLOCK, 64, 12, u"Second block"},
        {120, 64, 29, u"Merged into an existing block"},
        {IDS_EMPTY_SLOT, 64, 0, u""}, // an empty slot of an existing block
        {9999, 64, 0, u""},           // no such block
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        std::vector<WCHAR> buffer(static_cast<size_t>(c.bufferMax) + 4, u'#');
        EXPECT_EQ(LoadStringW(nullptr, c.id, buffer.data(), c.bufferMax), c.expectedResult);
        EXPECT_EQ(std::u16string(buffer.data()), c.expectedText);
    }

    LPCWSTR text = nullptr;
    ASSERT_EQ(LoadStringW(GetModuleHandleW(nullptr), IDS_LONG, reinterpret_cast<LPWSTR>(&text), 0), 16);
    EXPECT_EQ(std::u16string(text, 16), u"0123456789ABCDEF");
}

TEST_F(ResourcesTest, FindsBinaryResourcesByTypeAndName) {
    const char expected[] = "BLOB\x00\x01\x02\xff"
                            "embedded binary payload";
    struct Case {
        LPCWSTR name;
        LPCWSTR type;
    };
    const Case cases[] = {
        {MAKEINTRESOURCEW(300), u"DRIVER"},
        {u"#300", u"driver"},
        {u"named", RT_RCDATA},
    };
    for (const auto& c : cases) {
        HRSRC resource = FindResourceW(nullptr, c.name, c.type);
        ASSERT_NE(resource, nullptr);
        ASSERT_EQ(SizeofResource(nullptr, resource), sizeof(expected) - 1);
        HGLOBAL loaded = LoadResource(nullptr, resource);
        ASSERT_NE(loaded, nullptr);
        EXPECT_EQ(std::memcmp(LockResource(loaded), expected, sizeof(expected) - 1), 0);
    }

    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(301), u"DRIVER"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(300), u"NOSUCHTYPE"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
    // A language the module lacks falls back to the one it has; an exact one is found as such.
    EXPECT_NE(FindResourceExW(nullptr, u"DRIVER", MAKEINTRESOURCEW(300), 0x0407), nullptr);
    EXPECT_NE(FindResourceExW(nullptr, RT_DIALOG, MAKEINTRESOURCEW(IDD_SAMPLE), 0x0409), nullptr);
}

TEST_F(ResourcesTest, EnumeratesTheLanguagesOfAResource) {
    struct Seen {
        std::vector<WORD> languages;
        size_t stopAfter = 100;
    };
    auto collect = [](HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) -> BOOL {
        auto* seen = reinterpret_cast<Seen*>(param);
        seen->languages.push_back(language);
        return seen->languages.size() < seen->stopAfter;
    };
    Seen all;
    ASSERT_TRUE(EnumResourceLanguagesW(nullptr, RT_RCDATA, u"named", collect, reinterpret_cast<LONG_PTR>(&all)));
    EXPECT_EQ(all.languages, (std::vector<WORD>{0x0409, 0x0407}));

    Seen first;
    first.stopAfter = 1;
    EXPECT_FALSE(EnumResourceLanguagesW(nullptr, RT_RCDATA, u"NAMED", collect, reinterpret_cast<LONG_PTR>(&first)));
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_ENUM_USER_STOP);
    EXPECT_EQ(first.languages, (std::vector<WORD>{0x0409}));

    // The version record of a language library carries that library's language.
    HMODULE pack = LoadLibraryW(u"L:\\0x0411.dll");
    ASSERT_NE(pack, nullptr) << GetLastError();
    Seen version;
    EXPECT_TRUE(
        EnumResourceLanguagesW(pack, RT_VERSION, MAKEINTRESOURCEW(1), collect, reinterpret_cast<LONG_PTR>(&version)));
    EXPECT_EQ(version.languages, (std::vector<WORD>{0x0411}));
    FreeLibrary(pack);

    Seen none;
    EXPECT_FALSE(EnumResourceLanguagesW(nullptr, RT_RCDATA, u"other", collect, reinterpret_cast<LONG_PTR>(&none)));
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_FALSE(EnumResourceLanguagesW(nullptr, u"NOSUCHTYPE", u"named", collect, reinterpret_cast<LONG_PTR>(&none)));
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
    EXPECT_TRUE(none.languages.empty());
}

TEST_F(ResourcesTest, VersionRecordIsReadFromTheModuleFile) {
    const std::u16string path = u"B:\\" + ExeName();
    DWORD handle = 1;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    EXPECT_EQ(handle, 0u);
    std::vector<BYTE> block(size * 2);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\", reinterpret_cast<LPVOID*>(&fixed), &length));
    EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, VS_FFI_SIGNATURE);
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), 1);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), 7);
    EXPECT_EQ(HIWORD(fixed->dwFileVersionLS), 1);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionLS), 0);
    EXPECT_EQ(fixed->dwProductVersionLS, 3u);
    EXPECT_EQ(fixed->dwFileFlags, 0x20u);
    EXPECT_EQ(fixed->dwFileType, 1u);

    WORD* translation = nullptr;
    ASSERT_TRUE(
        VerQueryValueW(block.data(), u"\\VarFileInfo\\Translation", reinterpret_cast<LPVOID*>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);

    WCHAR subBlock[64];
    struct Case {
        const char16_t* name;
        const char16_t* value;
    };
    const Case cases[] = {{u"SpecialBuild", u"1115"}, {u"companyname", u"Test Company"}, {u"PrivateBuild", u""}};
    for (const auto& c : cases) {
        wsprintfW(subBlock, u"\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], c.name);
        LPWSTR text = nullptr;
        ASSERT_TRUE(VerQueryValueW(block.data(), subBlock, reinterpret_cast<LPVOID*>(&text), &length))
            << platform::Utf16ToUtf8(c.name);
        EXPECT_EQ(std::u16string(text), c.value);
        EXPECT_EQ(length, lstrlenW(c.value) + 1u);
    }
    LPVOID value = nullptr;
    EXPECT_FALSE(VerQueryValueW(block.data(), u"\\StringFileInfo\\040904b0\\Comments", &value, &length));
    EXPECT_FALSE(VerQueryValueW(block.data(), u"\\StringFileInfo\\041104b0\\SpecialBuild", &value, &length));

    // A file without a version record, and a missing file.
    EXPECT_EQ(GetFileVersionInfoSizeW(u"L:\\no such file.dll", &handle), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// One node of a version record: wLength, wValueLength, wType, key, padding, value, padding, children.
std::vector<BYTE> VersionNode(WORD valueLength, WORD type, std::u16string_view key, const std::vector<BYTE>& value,
                              const std::vector<BYTE>& children = {}) {
    std::vector<BYTE> node(6);
    auto put16 = [&](size_t at, WORD word) {
        node[at] = static_cast<BYTE>(word);
        node[at + 1] = static_cast<BYTE>(word >> 8);
    };
    for (char16_t c : key) {
        node.push_back(static_cast<BYTE>(c));
        node.push_back(static_cast<BYTE>(c >> 8));
    }
    node.insert(node.end(), {0, 0});
    node.resize((node.size() + 3) & ~size_t(3));
    node.insert(node.end(), value.begin(), value.end());
    if (!children.empty()) {
        node.resize((node.size() + 3) & ~size_t(3));
        node.insert(node.end(), children.begin(), children.end());
    }
    put16(0, static_cast<WORD>(node.size()));
    put16(2, valueLength);
    put16(4, type);
    return node;
}

// A text value whose stored length runs past its node: only the characters inside are reported, so a caller that
// reads the length it is given stays inside the block.
TEST(VersionRecords, TextLengthEndsWithItsNode) {
    const std::vector<BYTE> text = {'a', 0, 'b', 0, 0, 0};
    const std::vector<BYTE> block =
        VersionNode(0, 0, u"VS_VERSION_INFO", {}, VersionNode(100, 1, u"Name", text)); // claims 100 characters, holds 3
    LPWSTR value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\Name", reinterpret_cast<LPVOID*>(&value), &length));
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(std::u16string(value), u"ab");
    EXPECT_LE(reinterpret_cast<const BYTE*>(value + length), block.data() + block.size());

    // A value that fits keeps its stored length.
    const std::vector<BYTE> fitting = VersionNode(0, 0, u"VS_VERSION_INFO", {}, VersionNode(3, 1, u"Name", text));
    ASSERT_TRUE(VerQueryValueW(fitting.data(), u"\\Name", reinterpret_cast<LPVOID*>(&value), &length));
    EXPECT_EQ(length, 3u);
}

TEST_F(ResourcesTest, LanguageLibraryHasItsOwnTables) {
    HMODULE pack = LoadLibraryW(u"L:\\0x0411.dll");
    ASSERT_NE(pack, nullptr) << GetLastError();

    WCHAR buffer[64];
    EXPECT_EQ(LoadStringW(pack, IDS_HELLO, buffer, 64), 5);
    EXPECT_EQ(std::u16string(buffer), u"\u3053\u3093\u306b\u3061\u306f");
    EXPECT_EQ(LoadStringW(pack, IDS_FORMAT, buffer, 64), 6);
    // Strings the library lacks are not taken from the program.
    EXPECT_EQ(LoadStringW(pack, IDS_LONG, buffer, 64), 0);
    EXPECT_EQ(FindResourceW(pack, MAKEINTRESOURCEW(300), u"DRIVER"), nullptr);
    // The program's own table is unchanged.
    EXPECT_EQ(LoadStringW(nullptr, IDS_HELLO, buffer, 64), 5);
    EXPECT_EQ(std::u16string(buffer), u"Hello");

    DWORD size = GetFileVersionInfoSizeW(u"L:\\0x0411.dll", nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(u"L:\\0x0411.dll", 0, size, block.data()));
    LPWSTR text = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\StringFileInfo\\041104b0\\FileDescription",
                               reinterpret_cast<LPVOID*>(&text), &length));
    EXPECT_EQ(std::u16string(text), u"Japanese resources");
    EXPECT_TRUE(FreeLibrary(pack));
}

} // namespace
