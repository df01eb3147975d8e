#include "engine/MyReg.h"
#include "engine/RegReader.h"
#include "engine/RegWriter.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"
#include "platform/registry/registry.h"
#include "platform/testing/scratch_drive.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

Bytes Units(std::u16string_view text) {
    Bytes data;
    for (char16_t ch : text) {
        data.push_back(static_cast<BYTE>(ch & 0xFF));
        data.push_back(static_cast<BYTE>(ch >> 8));
    }
    return data;
}

// A zero-terminated string's bytes.
Bytes Sz(std::u16string_view text) {
    return Units(std::u16string(text) + u'\0');
}

Bytes Sequence(size_t count) {
    Bytes data(count);
    for (size_t i = 0; i < count; ++i)
        data[i] = static_cast<BYTE>(i * 7 + 3);
    return data;
}

struct Value {
    std::u16string name;
    DWORD type = 0;
    Bytes data;
    bool operator==(const Value&) const = default;
};

struct Key {
    std::u16string path;
    std::vector<Value> values;
    bool operator==(const Key&) const = default;
};

void PrintTo(const Key& key, std::ostream* os) {
    *os << "key of " << key.path.size() << " characters with " << key.values.size() << " values";
}

// Every key of a subtree with its values, in enumeration order, paths relative to the subtree.
void DumpKey(HKEY hKey, const std::u16string& path, std::vector<Key>& keys) {
    Key key{path, {}};
    for (DWORD i = 0;; ++i) {
        std::vector<char16_t> name(16384);
        Bytes data(1 << 20);
        DWORD cchName = static_cast<DWORD>(name.size());
        DWORD cbData = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG error = RegEnumValueW(hKey, i, name.data(), &cchName, nullptr, &type, data.data(), &cbData);
        if (error == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(error, ERROR_SUCCESS);
        data.resize(cbData);
        key.values.push_back({std::u16string(name.data(), cchName), type, data});
    }
    keys.push_back(key);
    for (DWORD i = 0;; ++i) {
        char16_t name[256];
        DWORD cchName = 256;
        const LONG error = RegEnumKeyExW(hKey, i, name, &cchName, nullptr, nullptr, nullptr, nullptr);
        if (error == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(error, ERROR_SUCCESS);
        HKEY hSub = nullptr;
        ASSERT_EQ(RegOpenKeyExW(hKey, name, 0, KEY_READ, &hSub), ERROR_SUCCESS);
        DumpKey(hSub, path + u"\\" + name, keys);
        RegCloseKey(hSub);
    }
}

std::vector<Key> Dump(HKEY hRoot, const std::u16string& path) {
    std::vector<Key> keys;
    HKEY hKey = nullptr;
    EXPECT_EQ(RegOpenKeyExW(hRoot, path.c_str(), 0, KEY_READ, &hKey), ERROR_SUCCESS);
    if (hKey) {
        DumpKey(hKey, u"", keys);
        RegCloseKey(hKey);
    }
    return keys;
}

void Set(HKEY hRoot, const std::u16string& path, const std::u16string& name, DWORD type, const Bytes& data) {
    HKEY hKey = nullptr;
    ASSERT_EQ(RegCreateKeyW(hRoot, path.c_str(), &hKey), ERROR_SUCCESS);
    const BYTE none = 0;
    ASSERT_EQ(RegSetValueExW(hKey, name.c_str(), 0, type, data.empty() ? &none : data.data(),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(hKey);
}

void Create(HKEY hRoot, const std::u16string& path) {
    HKEY hKey = nullptr;
    ASSERT_EQ(RegCreateKeyW(hRoot, path.c_str(), &hKey), ERROR_SUCCESS);
    RegCloseKey(hKey);
}

std::u16string Repeat(std::u16string_view piece, size_t count) {
    std::u16string text;
    for (size_t i = 0; i < count; ++i)
        text += piece;
    return text;
}

class RegExportTest : public testsupport::ScratchDriveTest {
protected:
    static std::u16string File(const std::u16string& name) { return u"T:\\" + name; }

    // The file's text, byte-order mark included.
    std::u16string ReadText(const std::string& name) const {
        const std::string bytes = m_drive.Read(name);
        std::u16string text;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            text += static_cast<char16_t>(static_cast<BYTE>(bytes[i]) | static_cast<BYTE>(bytes[i + 1]) << 8);
        return text;
    }
    void WriteText(const std::string& name, const std::u16string& text) const {
        std::string bytes = "\xFF\xFE";
        for (char16_t ch : text) {
            bytes += static_cast<char>(ch & 0xFF);
            bytes += static_cast<char>(ch >> 8);
        }
        m_drive.Write(name, bytes);
    }
};

TEST_F(RegExportTest, WritesTheExactTextOfASmallSubtree) {
    Set(HKEY_CURRENT_USER, u"Identities", u"Name", REG_SZ, Sz(u"abc"));
    Set(HKEY_CURRENT_USER, u"Identities", u"Count", REG_DWORD, {1, 0, 0, 0});
    Set(HKEY_CURRENT_USER, u"Identities", u"Max", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF});
    Set(HKEY_CURRENT_USER, u"Identities", u"Big", REG_QWORD, {2, 0, 0, 0, 1, 0, 0, 0});
    Set(HKEY_CURRENT_USER, u"Identities\\Sub", u"Bin", REG_BINARY, Sequence(20));
    Set(HKEY_CURRENT_USER, u"Identities\\Sub", u"Multi", REG_MULTI_SZ, Units(std::u16string(u"a\0b\0\0", 5)));
    Set(HKEY_CURRENT_USER, u"Identities\\Sub", u"Nothing", REG_BINARY, {});
    Create(HKEY_CURRENT_USER, u"Identities\\Sub\\Empty");

    MyReg reg;
    ASSERT_TRUE(reg.SaveKeyToFile(HKEY_CURRENT_USER, u"Identities", File(u"Identities").c_str()));
    const std::u16string expected =
        u"\xFEFF"
        u"[HKEY_CURRENT_USER\\Identities]\r\n"
        u"  name=\"Name\",type=\"REG_SZ\",value=\"abc\"\r\n"
        u"  name=\"Count\",type=\"REG_DWORD\",value=\"0x00000001 (1)\"\r\n"
        u"  name=\"Max\",type=\"REG_DWORD\",value=\"0xffffffff (-1)\"\r\n"
        u"  name=\"Big\",type=\"REG_QWORD\",value=\"0x0000000100000002\"\r\n"
        u"  [Sub]\r\n"
        u"    name=\"Bin\",type=\"REG_BINARY\",value=\"03 0a 11 18 1f 26 2d 34 3b 42 49 50 57 5e 65 6c \\\r\n"
        u"      73 7a 81 88 \"\r\n"
        u"    name=\"Multi\",type=\"REG_MULTI_SZ\",value=\"a\rb\r\r\"\r\n"
        u"    name=\"Nothing\",type=\"REG_BINARY\",value=\"\"\r\n"
        u"    [Empty]\r\n"
        u"    [/Empty]\r\n"
        u"  [/Sub]\r\n"
        u"[/HKEY_CURRENT_USER\\Identities]\r\n";
    EXPECT_EQ(ReadText("Identities"), expected);

    // The measure counts each value line and opening key line one character longer, and each closing key line
    // one shorter, than written; the byte-order mark is not counted.
    ULONGLONG size = 1000;
    ASSERT_TRUE(reg.CalKeyByName(HKEY_CURRENT_USER, u"Identities", size));
    EXPECT_EQ(size, 1000 + (expected.size() - 1) + 7);
    // The measure of a key alone: its two lines.
    size = 0;
    ASSERT_TRUE(reg.CalKeyByName(HKEY_CURRENT_USER, u"Identities\\Sub\\Empty", size));
    const size_t nameLength = std::u16string(u"HKEY_CURRENT_USER\\Identities\\Sub\\Empty").size();
    EXPECT_EQ(size, (nameLength + 5) + (nameLength + 4));

    // Read back into another key, byte for byte; the empty binary stays empty.
    ASSERT_EQ(reg.LoadKeyFromFile(File(u"Identities").c_str(), HKEY_CURRENT_USER, u"Restored\\Identities"), 0u);
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, u"Restored\\Identities"), Dump(HKEY_CURRENT_USER, u"Identities"));
}

struct TypeCase {
    const char16_t* name;
    DWORD type;
    Bytes data;
    const char16_t* typeName; // as the file names it
};

TEST_F(RegExportTest, EveryTypeComesBackWithItsTypeAndBytes) {
    const TypeCase cases[] = {
        {u"none", REG_NONE, Sz(u"text"), u"hex(0)"},
        {u"none empty", REG_NONE, {}, u"hex(0)"},
        {u"sz", REG_SZ, Sz(u"plain text with \"quotes\" and \\ and [brackets] and = signs"), u"REG_SZ"},
        {u"sz empty string", REG_SZ, Sz(u""), u"REG_SZ"},
        {u"sz with CR", REG_SZ, Sz(u"a\rb"), u"REG_SZ"},
        {u"sz ending in backslash", REG_SZ, Sz(u"C:\\dir\\"), u"REG_SZ"},
        {u"sz no data", REG_SZ, {}, u"hex(1)"},
        {u"sz unterminated", REG_SZ, Units(u"abc"), u"hex(1)"},
        {u"sz odd size", REG_SZ, {0x41, 0, 0}, u"hex(1)"},
        {u"sz inner zero", REG_SZ, Units(std::u16string(u"a\0b\0", 4)), u"hex(1)"},
        {u"sz two zeros", REG_SZ, Units(std::u16string(u"ab\0\0", 4)), u"hex(1)"},
        {u"sz line feeds", REG_SZ, Sz(u"line one\r\nline two\n"), u"hex(1)"},
        {u"expand", REG_EXPAND_SZ, Sz(u"%SystemRoot%\\x"), u"REG_EXPAND_SZ"},
        {u"expand line feed", REG_EXPAND_SZ, Sz(u"%A%\n"), u"hex(2)"},
        {u"binary", REG_BINARY, Sequence(5), u"REG_BINARY"},
        {u"binary empty", REG_BINARY, {}, u"REG_BINARY"},
        {u"binary 48", REG_BINARY, Sequence(16), u"REG_BINARY"},
        {u"binary 49", REG_BINARY, Sequence(17), u"REG_BINARY"},
        {u"dword", REG_DWORD, {0x78, 0x56, 0x34, 0x12}, u"REG_DWORD"},
        {u"dword short", REG_DWORD, {1, 2, 3}, u"hex(4)"},
        {u"dword empty", REG_DWORD, {}, u"hex(4)"},
        {u"dword big endian", REG_DWORD_BIG_ENDIAN, {0x12, 0x34, 0x56, 0x78}, u"hex(5)"},
        {u"link", REG_LINK, Units(u"\\Registry\\Machine\\X"), u"hex(6)"},
        {u"multi", REG_MULTI_SZ, Units(std::u16string(u"one\0two words\0\0", 16)), u"REG_MULTI_SZ"},
        {u"multi empty", REG_MULTI_SZ, {}, u"REG_MULTI_SZ"},
        {u"multi only terminator", REG_MULTI_SZ, {0, 0}, u"REG_MULTI_SZ"},
        {u"multi with CR", REG_MULTI_SZ, Units(std::u16string(u"a\rb\0\0", 5)), u"hex(7)"},
        {u"multi odd size", REG_MULTI_SZ, {0x61, 0, 0}, u"hex(7)"},
        {u"resource list", REG_RESOURCE_LIST, Sequence(40), u"REG_RESOURCE_LIST"},
        {u"resource list empty", REG_RESOURCE_LIST, {}, u"REG_RESOURCE_LIST"},
        {u"full resource descriptor", REG_FULL_RESOURCE_DESCRIPTOR, Sequence(9), u"hex(9)"},
        {u"requirements", REG_RESOURCE_REQUIREMENTS_LIST, Sequence(3), u"REG_RESOURCE_REQUIREMENTS_LIST"},
        {u"qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 0xF8}, u"REG_QWORD"},
        {u"qword short", REG_QWORD, {1, 2, 3, 4, 5, 6, 7}, u"hex(11)"},
        {u"unknown type", 0x12345, Sequence(6), u"hex(74565)"},
        {u"unknown type empty", 0xFFFFFFFF, {}, u"hex(4294967295)"},
    };
    for (const TypeCase& c : cases)
        Set(HKEY_CURRENT_USER, u"Src", c.name, c.type, c.data);

    MyReg reg;
    ASSERT_TRUE(reg.SaveKeyToFile(HKEY_CURRENT_USER, u"Src", File(u"types").c_str()));
    const std::u16string text = ReadText("types");
    for (const TypeCase& c : cases) {
        const std::u16string head = u"name=\"" + std::u16string(c.name) + u"\",type=\"" + c.typeName + u"\"";
        EXPECT_NE(text.find(head), std::u16string::npos) << c.type << " " << c.data.size();
    }

    // Back under another path of the same root, and under another root.
    ASSERT_EQ(reg.LoadKeyFromFile(File(u"types").c_str(), HKEY_CURRENT_USER, u"Copy\\Here"), 0u);
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, u"Copy\\Here"), Dump(HKEY_CURRENT_USER, u"Src"));
    ASSERT_EQ(reg.LoadKeyFromFile(File(u"types").c_str(), HKEY_LOCAL_MACHINE, u"Software\\Other"), 0u);
    EXPECT_EQ(Dump(HKEY_LOCAL_MACHINE, u"Software\\Other"), Dump(HKEY_CURRENT_USER, u"Src"));
    // And into the key it came from, after it was removed.
    ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Src"), ERROR_SUCCESS);
    ASSERT_EQ(reg.LoadKeyFromFile(File(u"types").c_str()), 0u);
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, u"Src"), Dump(HKEY_LOCAL_MACHINE, u"Software\\Other"));
}

TEST_F(RegExportTest, OddNamesOfKeysAndValuesComeBack) {
    const std::u16string valueNames[] = {
        u"",         u"[x]",          u"a/b",          u"=",
        u"\"q\"",    u"a\",type=\"b", u"x\",value=\"", u"line\r\nbreak",
        u"cr\ronly", u"back\\slash",  u"\\0041",       u"  lead",
        u"tail  ",   u"tab\tin",      u"name=\"",      u"\"",
        u"[/close]", u"hex(1)",
    };
    const std::u16string keyNames[] = {
        u"[k]",   u"[open",       u"k]x",    u"/lead",   u"a/b",        u"=",
        u"\"q\"", u"line\nbreak", u" blank", u"x\\0041", u"HKEY_USERS",
    };
    for (const std::u16string& name : valueNames) {
        Set(HKEY_CURRENT_USER, u"Odd", name, REG_SZ, Sz(u"v:" + name));
        Set(HKEY_CURRENT_USER, u"Odd", u"d" + name, REG_DWORD, {1, 2, 3, 4});
    }
    std::u16string nested = u"Odd";
    for (const std::u16string& key : keyNames) {
        if (key.find(u'\\') != std::u16string::npos)
            continue; // a key name never holds a backslash
        nested += u"\\" + key;
        Set(HKEY_CURRENT_USER, nested, key, REG_BINARY, Sequence(3));
        Create(HKEY_CURRENT_USER, u"Odd\\" + key);
    }

    MyReg reg;
    ASSERT_TRUE(reg.SaveKeyToFile(HKEY_CURRENT_USER, u"Odd", File(u"odd").c_str()));
    const std::u16string text = ReadText("odd");
    // Names that the plain form carries stay as they are; the others are escaped in the exact form.
    EXPECT_NE(text.find(u"  name=\"[x]\",type=\"REG_SZ\",value=\"v:[x]\"\r\n"), std::u16string::npos);
    EXPECT_NE(text.find(u"  name=\"\",type=\"REG_SZ\",value=\"v:\"\r\n"), std::u16string::npos);
    EXPECT_NE(text.find(u"  [[open]\r\n"), std::u16string::npos);
    EXPECT_NE(text.find(u"  [[k\\005d]\r\n"), std::u16string::npos);
    EXPECT_NE(text.find(u"  [k\\005dx]\r\n"), std::u16string::npos);
    EXPECT_NE(text.find(u"  [\\002flead]\r\n"), std::u16string::npos);
    EXPECT_NE(text.find(u"name=\"line\\000d\\000abreak\",type=\"hex(1)\""), std::u16string::npos);
    EXPECT_EQ(text.find(u"break\r\n"), std::u16string::npos);

    ASSERT_EQ(reg.LoadKeyFromFile(File(u"odd").c_str(), HKEY_CURRENT_USER, u"Restored"), 0u);
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, u"Restored"), Dump(HKEY_CURRENT_USER, u"Odd"));
}

TEST_F(RegExportTest, LongValuesAreContinuedWithinTheReadersLines) {
    std::u16string longText;
    for (int i = 0; i < 3000; ++i)
        longText += u"word " + std::u16string(static_cast<size_t>(i % 7), u' ') + u"\t";
    std::u16string multi =
        Repeat(u"x", 48) + u"   blanks after the 48th character" + u'\0' + Repeat(u" ", 100) + u"y" + u'\0' + u'\0';
    const std::u16string longName = Repeat(u"n ", 3000);
    Set(HKEY_CURRENT_USER, u"Long", u"binary", REG_BINARY, Sequence(100 * 1024));
    Set(HKEY_CURRENT_USER, u"Long", u"text", REG_SZ, Sz(longText));
    Set(HKEY_CURRENT_USER, u"Long", u"expand", REG_EXPAND_SZ, Sz(Repeat(u"%PATH%;", 20000)));
    Set(HKEY_CURRENT_USER, u"Long", u"blank run", REG_SZ, Sz(u"a" + Repeat(u" ", 5000) + u"b"));
    Set(HKEY_CURRENT_USER, u"Long", u"multi", REG_MULTI_SZ, Units(multi));
    Set(HKEY_CURRENT_USER, u"Long", u"resources", REG_RESOURCE_LIST, Sequence(2000));
    Set(HKEY_CURRENT_USER, u"Long", longName, REG_SZ, Sz(u"long name"));
    Set(HKEY_CURRENT_USER, u"Long", longName + u"x", REG_NONE, Sequence(10));
    Set(HKEY_CURRENT_USER, u"Long\\" + Repeat(u"k", 255), u"deep", REG_SZ, Sz(longText));

    MyReg reg;
    ASSERT_TRUE(reg.SaveKeyToFile(HKEY_CURRENT_USER, u"Long", File(u"long").c_str()));
    const std::u16string text = ReadText("long");
    size_t start = 1;
    size_t lines = 0;
    while (start < text.size()) {
        const size_t end = text.find(u"\r\n", start);
        ASSERT_NE(end, std::u16string::npos);
        EXPECT_LE(end + 2 - start, 2047u);
        // A continuation line starts with its indent and then never with a blank or tab of the data.
        if (start > 1 && text[start - 3] == u'\\') {
            const size_t first = text.find_first_not_of(u' ', start);
            EXPECT_NE(text[first], u'\t');
        }
        start = end + 2;
        ++lines;
    }
    EXPECT_GT(lines, 100 * 1024 / 16);
    // A run of blanks longer than a line cannot be continued: that value takes the exact form.
    EXPECT_NE(text.find(u"name=\"blank run\",type=\"hex(1)\""), std::u16string::npos);
    EXPECT_NE(text.find(u"name=\"text\",type=\"REG_SZ\""), std::u16string::npos);
    // The multi-string's pieces keep their blanks: the piece takes the blanks that follow it.
    EXPECT_NE(text.find(u"value=\"" + Repeat(u"x", 48) + u"   \\\r\n"), std::u16string::npos);

    ULONGLONG size = 0;
    ASSERT_TRUE(reg.CalKeyByName(HKEY_CURRENT_USER, u"Long", size));
    // One character more per value line and per opening line, one less per closing line.
    EXPECT_EQ(size, text.size() - 1 + 9);

    ASSERT_EQ(reg.LoadKeyFromFile(File(u"long").c_str(), HKEY_CURRENT_USER, u"Back"), 0u);
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, u"Back"), Dump(HKEY_CURRENT_USER, u"Long"));
}

TEST_F(RegExportTest, SavingWhatWasLoadedGivesTheSameText) {
    Set(HKEY_CURRENT_USER, u"Same", u"a", REG_SZ, Sz(u"1"));
    Set(HKEY_CURRENT_USER, u"Same", u"b", REG_NONE, Sequence(70));
    Set(HKEY_CURRENT_USER, u"Same", u"c", REG_MULTI_SZ, Units(Repeat(u"abc ", 40) + u'\0' + u'\0'));
    Set(HKEY_CURRENT_USER, u"Same\\K1\\K2", u"d", REG_DWORD, {9, 0, 0, 0});
    Set(HKEY_CURRENT_USER, u"Same\\K3", u"e", REG_BINARY, Sequence(100));
    MyReg reg;
    ASSERT_TRUE(reg.SaveKeyToFile(HKEY_CURRENT_USER, u"Same", File(u"first").c_str()));
    ASSERT_EQ(reg.LoadKeyFromFile(File(u"first").c_str(), HKEY_CURRENT_USER, u"Other"), 0u);
    ASSERT_TRUE(reg.SaveKeyToFile(HKEY_CURRENT_USER, u"Other", File(u"second").c_str()));
    std::u16string first = ReadText("first");
    std::u16string second = ReadText("second");
    for (std::u16string* text : {&first, &second}) {
        size_t at = 0;
        while ((at = text->find(u"HKEY_CURRENT_USER\\Other", at)) != std::u16string::npos)
            text->replace(at, 23, u"HKEY_CURRENT_USER\\Same");
    }
    EXPECT_EQ(first, second);
}

TEST_F(RegExportTest, ReadsTextWrittenByHandInTheSameFormat) {
    WriteText("hand",
              u"[HKEY_CURRENT_USER\\Old\\Path]\r\n"
              u"  name=\"Quote\",type=\"REG_SZ\",value=\"say \"hi\"\"\r\n"
              u"  name=\"Bin\",type=\"reg_binary\",value=\"00 01 02 03 04 05 06 07 08 09 0A 0b 0c 0d 0e 0f \\\r\n"
              u"\t\t10 11 12 13 \"\r\n"
              u"  name=\"D\",type=\"REG_DWORD\",value=\"0xffffffff (-1)\"\r\n"
              u"  name=\"Q\",type=\"REG_QWORD\",value=\"0x0102030405060708\"\r\n"
              u"  name=\"Unnamed type\",type=\"\",value=\"text\"\r\n"
              u"  name=\"Multi\",type=\"REG_MULTI_SZ\",value=\"a\rb\r\r\"\r\n"
              u"\r\n"
              u"  \t\r\n"
              u"  [Sub]\r\n"
              u"    name=\"Inner\",type=\"REG_SZ\",value=\"in\"\r\n"
              u"  [/Sub]\r\n"
              u"  name=\"Late\",type=\"REG_SZ\",value=\"after the subkey\"\r\n"
              u"[/HKEY_CURRENT_USER\\Old\\Path]\r\n"
              u"\r\n");
    MyReg reg;
    // Read into another path: the outermost closing line names the old path and still closes the key.
    ASSERT_EQ(reg.LoadKeyFromFile(File(u"hand").c_str(), HKEY_CURRENT_USER, u"New\\Path"), 0u);
    Bytes bin(20);
    for (int i = 0; i < 20; ++i)
        bin[i] = static_cast<BYTE>(i);
    const std::vector<Key> expected = {
        {u"",
         {{u"Quote", REG_SZ, Sz(u"say \"hi\"")},
          {u"Bin", REG_BINARY, bin},
          {u"D", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
          {u"Q", REG_QWORD, {8, 7, 6, 5, 4, 3, 2, 1}},
          {u"Unnamed type", REG_SZ, Sz(u"text")},
          {u"Multi", REG_MULTI_SZ, Units(std::u16string(u"a\0b\0\0", 5))},
          {u"Late", REG_SZ, Sz(u"after the subkey")}}},
        {u"\\Sub", {{u"Inner", REG_SZ, Sz(u"in")}}},
    };
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, u"New\\Path"), expected);
    // Read where it came from.
    ASSERT_EQ(reg.LoadKeyFromFile(File(u"hand").c_str()), 0u);
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, u"Old\\Path"), expected);
}

TEST_F(RegExportTest, AWholeRootIsSavedAndLoadedUnderAKey) {
    Set(HKEY_CURRENT_CONFIG, u"", u"top", REG_SZ, Sz(u"at the root"));
    Set(HKEY_CURRENT_CONFIG, u"System\\Setup", u"v", REG_DWORD, {5, 0, 0, 0});
    Set(HKEY_CURRENT_CONFIG, u"Software", u"w", REG_BINARY, Sequence(3));
    MyReg reg;
    ASSERT_TRUE(reg.SaveKeyToFile(HKEY_CURRENT_CONFIG, u"", File(u"root").c_str()));
    EXPECT_EQ(ReadText("root").substr(0, 23), std::u16string(u"\xFEFF[HKEY_CURRENT_CONFIG\\]"));
    ASSERT_EQ(reg.LoadKeyFromFile(File(u"root").c_str(), HKEY_LOCAL_MACHINE, u"Config Copy"), 0u);
    EXPECT_EQ(Dump(HKEY_LOCAL_MACHINE, u"Config Copy"), Dump(HKEY_CURRENT_CONFIG, u""));
    // Read into the root of another hive: inner keys go right below it.
    ASSERT_EQ(reg.LoadKeyFromFile(File(u"root").c_str(), HKEY_USERS, nullptr), 0u);
    EXPECT_EQ(Dump(HKEY_USERS, u""), Dump(HKEY_CURRENT_CONFIG, u""));
}

TEST_F(RegExportTest, LoadReportsKeysAndValuesTheRegistryRefusesAndWritesTheRest) {
    const std::u16string longKey = Repeat(u"k", 300);
    const std::u16string longValue = Repeat(u"v", 17000);
    std::u16string text = u"[HKEY_CURRENT_USER\\X]\r\n"
                          u"  name=\"before\",type=\"REG_SZ\",value=\"1\"\r\n"
                          u"  name=\"";
    // A value name longer than the registry takes, on continued lines.
    for (size_t i = 0; i < longValue.size(); i += 1000)
        text += longValue.substr(i, 1000) + u"\\\r\n";
    text += u"\",type=\"REG_SZ\",value=\"2\"\r\n"
            u"  [" +
            longKey +
            u"]\r\n"
            u"    name=\"lost\",type=\"REG_SZ\",value=\"3\"\r\n"
            u"  [/" +
            longKey +
            u"]\r\n"
            u"  [Fine]\r\n"
            u"    name=\"after\",type=\"REG_SZ\",value=\"4\"\r\n"
            u"  [/Fine]\r\n"
            u"[/HKEY_CURRENT_USER\\X]\r\n";
    WriteText("refused", text);
    MyReg reg;
    EXPECT_EQ(reg.LoadKeyFromFile(File(u"refused").c_str(), HKEY_CURRENT_USER, u"Dst"), ERROR_INVALID_PARAMETER);
    const std::vector<Key> expected = {
        {u"", {{u"before", REG_SZ, Sz(u"1")}}},
        {u"\\Fine", {{u"after", REG_SZ, Sz(u"4")}}},
    };
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, u"Dst"), expected);
}

TEST_F(RegExportTest, ReaderGivesNodesInOrder) {
    WriteText("nodes", u"[HKEY_LOCAL_MACHINE\\A]\r\n"
                       u"  name=\"v\",type=\"REG_SZ\",value=\"1\"\r\n"
                       u"  [B]\r\n"
                       u"  [/B]\r\n"
                       u"[/HKEY_LOCAL_MACHINE\\A]\r\n");
    CRegReader reader;
    reader.SetFileName(File(u"nodes").c_str());
    ASSERT_TRUE(reader.ReadString(nullptr, nullptr));
    EXPECT_EQ(reader.GetNodeType(), CRegReader::NODE_KEY_OPEN);
    EXPECT_EQ(reader.GetRootKey(), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(reader.GetKeyPath(), CString(u"A"));
    ASSERT_TRUE(reader.ReadString(nullptr, nullptr));
    EXPECT_EQ(reader.GetNodeType(), CRegReader::NODE_VALUE);
    EXPECT_EQ(reader.GetValueName(), CString(u"v"));
    EXPECT_EQ(reader.GetTypeName(), CString(u"REG_SZ"));
    EXPECT_EQ(reader.TakeValueText(), CString(u"1"));
    ASSERT_TRUE(reader.ReadString(nullptr, nullptr));
    EXPECT_EQ(reader.GetKeyPath(), CString(u"A\\B"));
    EXPECT_EQ(reader.GetDepth(), 2);
    ASSERT_TRUE(reader.ReadString(nullptr, nullptr));
    EXPECT_EQ(reader.GetNodeType(), CRegReader::NODE_KEY_CLOSE);
    reader.PopKeyPath();
    EXPECT_EQ(reader.GetKeyPath(), CString(u"A"));
    ASSERT_TRUE(reader.ReadString(nullptr, nullptr));
    EXPECT_EQ(reader.GetNodeType(), CRegReader::NODE_KEY_CLOSE);
    EXPECT_FALSE(reader.ReadString(nullptr, nullptr));
    EXPECT_EQ(reader.GetError(), 0u);
    reader.Close();
}

TEST_F(RegExportTest, LoadReportsTextThatStopsEarlyOrCannotBeRead) {
    Set(HKEY_CURRENT_USER, u"Src", u"a", REG_SZ, Sz(u"first"));
    Set(HKEY_CURRENT_USER, u"Src\\Sub", u"b", REG_BINARY, Sequence(40));
    MyReg reg;
    ASSERT_TRUE(reg.SaveKeyToFile(HKEY_CURRENT_USER, u"Src", File(u"whole").c_str()));
    const std::u16string whole = ReadText("whole").substr(1);
    const size_t lastLine = whole.rfind(u"[/");
    const size_t continuation = whole.find(u"\\\r\n") + 3;
    struct Case {
        const char* what;
        std::u16string text;
    };
    const Case cases[] = {
        {"cut in the middle of a line", whole.substr(0, whole.size() - 5)},
        {"cut at a line end before the last key closes", whole.substr(0, lastLine)},
        {"cut after a continued line", whole.substr(0, continuation)},
        {"no key at all", u""},
        {"a line that is no node", whole.substr(0, lastLine) + u"garbage\r\n" + whole.substr(lastLine)},
        {"a closing line of another key", whole.substr(0, lastLine) + u"  [/Nope]\r\n" + whole.substr(lastLine)},
        {"a value without its closing quote", u"[HKEY_CURRENT_USER\\X]\r\n  name=\"a\",type=\"REG_SZ\",value=\"b\r\n"
                                              u"[/HKEY_CURRENT_USER\\X]\r\n"},
        {"a line longer than the reader takes", u"[HKEY_CURRENT_USER\\X]\r\n  name=\"a\",type=\"REG_SZ\",value=\"" +
                                                    Repeat(u"y", 2100) + u"\"\r\n[/HKEY_CURRENT_USER\\X]\r\n"},
        {"an unknown root", u"[HKEY_NOWHERE\\X]\r\n[/HKEY_NOWHERE\\X]\r\n"},
        {"a broken escape", u"[HKEY_CURRENT_USER\\X]\r\n  [a\\00]\r\n  [/a\\00]\r\n[/HKEY_CURRENT_USER\\X]\r\n"},
        {"broken exact data", u"[HKEY_CURRENT_USER\\X]\r\n  name=\"a\",type=\"hex(3)\",value=\"0g \"\r\n"
                              u"[/HKEY_CURRENT_USER\\X]\r\n"},
        {"a second subtree", whole + whole},
        {"a value before any key", u"name=\"a\",type=\"REG_SZ\",value=\"b\"\r\n" + whole},
    };
    for (const Case& c : cases) {
        WriteText("broken", c.text);
        EXPECT_EQ(reg.LoadKeyFromFile(File(u"broken").c_str(), HKEY_CURRENT_USER, u"Dst"), ERROR_INVALID_DATA)
            << c.what;
    }
    // A byte short of the last character.
    const std::string bytes = m_drive.Read("whole");
    m_drive.Write("broken", bytes.substr(0, bytes.size() - 1));
    EXPECT_EQ(reg.LoadKeyFromFile(File(u"broken").c_str(), HKEY_CURRENT_USER, u"Dst"), ERROR_INVALID_DATA);
    // No file.
    EXPECT_EQ(reg.LoadKeyFromFile(File(u"missing").c_str(), HKEY_CURRENT_USER, u"Dst"), ERROR_FILE_NOT_FOUND);
    // The whole text still loads with the same object afterwards.
    ASSERT_EQ(reg.LoadKeyFromFile(File(u"whole").c_str(), HKEY_CURRENT_USER, u"Good"), 0u);
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, u"Good"), Dump(HKEY_CURRENT_USER, u"Src"));
}

TEST_F(RegExportTest, SaveAndMeasureReportWhatTheyCannotDo) {
    Set(HKEY_CURRENT_USER, u"Src", u"a", REG_SZ, Sz(u"x"));
    Set(HKEY_CURRENT_USER, u"we]ird", u"a", REG_SZ, Sz(u"x"));
    m_drive.Write("target", "old contents");
    MyReg reg;

    // A folder that does not exist.
    EXPECT_FALSE(reg.SaveKeyToFile(HKEY_CURRENT_USER, u"Src", u"T:\\no such folder\\file"));
    EXPECT_NE(GetLastError(), 0u);
    // A key that does not exist: nothing is written.
    EXPECT_FALSE(reg.SaveKeyToFile(HKEY_CURRENT_USER, u"Missing", File(u"target").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    // A root that the text cannot name.
    HKEY hKey = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Src", 0, KEY_READ, &hKey), ERROR_SUCCESS);
    EXPECT_FALSE(reg.SaveKeyToFile(hKey, u"", File(u"target").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ULONGLONG size = 5;
    EXPECT_FALSE(reg.CalKeyByName(hKey, u"", size));
    RegCloseKey(hKey);
    // A path that would break its line: the save fails part way and the old file stays.
    EXPECT_FALSE(reg.SaveKeyToFile(HKEY_CURRENT_USER, u"we]ird", File(u"target").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_FALSE(reg.CalKeyByName(HKEY_CURRENT_USER, u"we]ird", size));
    EXPECT_FALSE(reg.CalKeyByName(HKEY_CURRENT_USER, u"Missing", size));
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(m_drive.Read("target"), "old contents");
    EXPECT_EQ(m_drive.Names(), std::vector<std::string>{"target"});

    // A save that succeeds replaces the old file.
    ASSERT_TRUE(reg.SaveKeyToFile(HKEY_CURRENT_USER, u"Src", File(u"target").c_str()));
    EXPECT_EQ(ReadText("target").substr(0, 24), std::u16string(u"\xFEFF[HKEY_CURRENT_USER\\Src]"));
    EXPECT_EQ(m_drive.Names(), std::vector<std::string>{"target"});
}

TEST_F(RegExportTest, WriterKeepsNothingUnlessAllWasWritten) {
    RegWriter writer;
    writer.SetFileName(File(u"partial").c_str());
    EXPECT_FALSE(writer.WriteValue(u"a", u"REG_SZ", u"b", REG_SZ)); // no key yet
    ASSERT_TRUE(writer.WriteKey(u"HKEY_CURRENT_USER\\X", TRUE));
    ASSERT_TRUE(writer.WriteValue(u"a", u"REG_SZ", u"b", REG_SZ));
    EXPECT_FALSE(writer.WriteValue(u"a", u"REG_SZ", u"line\nfeed", REG_SZ));
    EXPECT_FALSE(writer.WriteKey(u"X", FALSE));
    EXPECT_FALSE(writer.Close());
    EXPECT_EQ(writer.GetError(), ERROR_INVALID_DATA);
    EXPECT_TRUE(m_drive.Names().empty());

    // Dropped before Close: nothing either.
    {
        RegWriter dropped;
        dropped.SetFileName(File(u"partial").c_str());
        ASSERT_TRUE(dropped.WriteKey(u"HKEY_CURRENT_USER\\X", TRUE));
    }
    EXPECT_TRUE(m_drive.Names().empty());
}

TEST(RegExportConversionTest, TextFormsOfTheNamedTypes) {
    struct Case {
        DWORD type;
        Bytes data;
        const char16_t* text;
    };
    const Case cases[] = {
        {REG_DWORD, {1, 0, 0, 0}, u"0x00000001 (1)"},
        {REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}, u"0xffffffff (-1)"},
        {REG_DWORD_BIG_ENDIAN, {0, 0, 1, 2}, u"0x00000102 (258)"},
        {REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}, u"0x0807060504030201"},
        {REG_BINARY, {0xAB, 0x01}, u"ab 01 "},
        {REG_RESOURCE_LIST, {0x10}, u"10 "},
        {REG_MULTI_SZ, Units(std::u16string(u"a\0b\0\0", 5)), u"a\rb\r\r"},
        {REG_SZ, Units(std::u16string(u"ab\0cd", 5)), u"ab"},
        {REG_NONE, Units(u"xyz"), u"xyz"},
        {REG_LINK, Units(u"link"), u"link"},
    };
    for (const Case& c : cases) {
        CString text;
        MyReg::ValueToText(c.type, c.data.data(), static_cast<DWORD>(c.data.size()), text);
        EXPECT_EQ(text, CString(c.text)) << c.type;
    }
    EXPECT_EQ(MyReg::TypeFromName(u"reg_expand_sz"), REG_EXPAND_SZ);
    EXPECT_EQ(MyReg::TypeFromName(u""), REG_SZ);
    EXPECT_EQ(MyReg::TypeFromName(u"REG_DWORD_BIG_ENDIAN"), REG_SZ);
    EXPECT_EQ(MyReg::TypeFromName(u"hex(5)"), REG_DWORD_BIG_ENDIAN);
    EXPECT_EQ(MyReg::TypeName(REG_FULL_RESOURCE_DESCRIPTOR), CString(u""));
    EXPECT_EQ(MyReg::HexByte(u'F', u'z'), 0xF0);

    // A short DWORD text counts missing digits as 0; other characters count as 0 too.
    DWORD type = 0;
    Bytes data;
    ASSERT_TRUE(MyReg::TextToValue(u"REG_DWORD", u"0x12", type, data));
    EXPECT_EQ(data, (Bytes{0, 0, 0, 0x12}));
    ASSERT_TRUE(MyReg::TextToValue(u"REG_BINARY", u"zz 1", type, data));
    EXPECT_EQ(data, (Bytes{0}));
    ASSERT_TRUE(MyReg::TextToValue(u"REG_DWORD", u"", type, data));
    EXPECT_EQ(data, (Bytes{0, 0, 0, 0}));
    EXPECT_FALSE(MyReg::TextToValue(u"hex(3)", u"00", type, data));
    ASSERT_TRUE(MyReg::TextToValue(u"hex(0)", u"", type, data));
    EXPECT_EQ(type, REG_NONE);
    EXPECT_TRUE(data.empty());
}

} // namespace
