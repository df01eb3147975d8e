// The German language library against the program's own English resources: the library carries every dialog,
// string, menu and picture the program loads through the resource handle, its dialogs hold the same controls as the
// English ones, and its texts fit the controls that show them.
#include "app/AppTestSupport.h"

#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/gdi/wingdi.h"
#include "platform/res/ResourceTable.h"
#include "platform/res/resources.h"
#include "platform/res/templates.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using platform::res::DialogItemTemplate;
using platform::res::DialogTemplate;
using platform::res::ResourceDirectory;

// A resource's type and name as a reader sees them: "#5" for an integer, else the text.
struct ResourceKey {
    std::string type;
    std::string name;
    auto operator<=>(const ResourceKey&) const = default;
};

std::string Part(const char16_t* text, WORD id) {
    return text ? platform::Utf16ToUtf8(text) : "#" + std::to_string(id);
}

std::string Describe(const ResourceKey& key) {
    static const std::map<std::string, std::string> kTypes = {
        {"#2", "bitmap"}, {"#4", "menu"}, {"#5", "dialog"}, {"#14", "icon"}};
    const auto it = kTypes.find(key.type);
    return (it != kTypes.end() ? it->second : key.type) + " " + key.name.substr(key.name[0] == '#' ? 1 : 0);
}

// The texts a template shows; an ordinal title (an icon or bitmap id) reads "#id".
std::string TitleOf(const DialogItemTemplate& item) {
    return item.title.ordinal ? "#" + std::to_string(item.title.ordinal) : platform::Utf16ToUtf8(item.title.text);
}

std::string ClassOf(const DialogItemTemplate& item) {
    return item.windowClass.ordinal ? "#" + std::to_string(item.windowClass.ordinal)
                                    : platform::Utf16ToUtf8(item.windowClass.text);
}

class Resources {
public:
    explicit Resources(LPCWSTR path) : m_module(LoadLibraryW(path)) {
        if (!m_module)
            return;
        using Directory = const ResourceDirectory* (*)();
        auto directory = reinterpret_cast<Directory>(GetProcAddress(m_module, "WinResourceDirectory"));
        if (!directory)
            return;
        const ResourceDirectory* dir = directory();
        for (DWORD i = 0; i < dir->count; ++i) {
            const auto& entry = dir->entries[i];
            m_entries[{Part(entry.typeName, entry.typeId), Part(entry.name, entry.nameId)}] = &entry;
        }
    }
    ~Resources() {
        if (m_module)
            FreeLibrary(m_module);
    }
    Resources(const Resources&) = delete;
    Resources& operator=(const Resources&) = delete;

    HMODULE Module() const { return m_module; }
    const std::map<ResourceKey, const platform::res::ResourceEntry*>& Entries() const { return m_entries; }

    std::vector<WORD> Dialogs() const {
        std::vector<WORD> ids;
        for (const auto& [key, entry] : m_entries)
            if (!entry->typeName && entry->typeId == 5 && !entry->name)
                ids.push_back(entry->nameId);
        return ids;
    }
    std::optional<DialogTemplate> Dialog(WORD id) const {
        auto it = m_entries.find({"#5", "#" + std::to_string(id)});
        if (it == m_entries.end())
            return std::nullopt;
        return platform::res::ParseDialogTemplate(it->second->data, it->second->size);
    }
    // The ids of every string of the string tables.
    std::set<UINT> Strings() const {
        std::set<UINT> ids;
        for (const auto& [key, entry] : m_entries) {
            if (entry->typeName || entry->typeId != 6 || entry->name)
                continue;
            const UINT first = (entry->nameId - 1u) * 16u;
            for (UINT id = first; id < first + 16; ++id) {
                LPCWSTR text = nullptr;
                if (LoadStringW(m_module, id, reinterpret_cast<LPWSTR>(&text), 0) > 0)
                    ids.insert(id);
            }
        }
        return ids;
    }
    std::u16string String(UINT id) const {
        LPCWSTR text = nullptr;
        const int length = LoadStringW(m_module, id, reinterpret_cast<LPWSTR>(&text), 0);
        return length > 0 ? std::u16string(text, static_cast<size_t>(length)) : std::u16string();
    }

private:
    HMODULE m_module;
    std::map<ResourceKey, const platform::res::ResourceEntry*> m_entries;
};

class LanguageLibraryTest : public apptest::MachineTest {
protected:
    void SetUp() override {
        apptest::MachineTest::SetUp();
        m_english = std::make_unique<Resources>(u"B:\\kovra_resources\\kovra.dll");
        m_german = std::make_unique<Resources>(u"B:\\Lang\\0x0407.dll");
        ASSERT_NE(m_english->Module(), nullptr);
        ASSERT_NE(m_german->Module(), nullptr);
        ASSERT_FALSE(m_english->Entries().empty());
        ASSERT_FALSE(m_german->Entries().empty());
    }

    std::unique_ptr<Resources> m_english;
    std::unique_ptr<Resources> m_german;
};

std::string Lines(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items)
        text += item + "\n";
    return text;
}

// What the program carries only in itself: the driver it installs and its version record.
bool ProgramOnly(const ResourceKey& key) {
    return key.type == "DRIVER" || key.type == "#16";
}

TEST_F(LanguageLibraryTest, TheGermanLibraryCarriesEveryResourceAndStringOfTheProgram) {
    std::vector<std::string> missing;
    for (const auto& [key, entry] : m_english->Entries()) {
        if (key.type == "#6" || ProgramOnly(key))
            continue;
        if (!m_german->Entries().count(key))
            missing.push_back(Describe(key));
    }
    const std::set<UINT> german = m_german->Strings();
    for (UINT id : m_english->Strings())
        if (!german.count(id))
            missing.push_back("string " + std::to_string(id));
    // What the German library lacks, one a line.
    EXPECT_EQ(Lines(missing), "");

    // Nor does it carry anything the program does not know.
    std::vector<std::string> extra;
    for (const auto& [key, entry] : m_german->Entries())
        if (key.type != "#6" && !m_english->Entries().count(key))
            extra.push_back(Describe(key));
    const std::set<UINT> english = m_english->Strings();
    for (UINT id : german)
        if (!english.count(id))
            extra.push_back("string " + std::to_string(id));
    EXPECT_EQ(Lines(extra), "");
}

// The conversions of a format text in their order ("%s", "%I64d", ...), which the German text must keep.
std::string Conversions(const std::u16string& text) {
    std::string conversions;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'%')
            continue;
        size_t end = i + 1;
        while (end < text.size() && std::u16string_view(u"0123456789.-+ #I").find(text[end]) != std::u16string::npos)
            ++end;
        if (end < text.size())
            conversions += platform::Utf16ToUtf8(text.substr(i, end - i + 1)) + " ";
        i = end;
    }
    return conversions;
}

TEST_F(LanguageLibraryTest, GermanStringsKeepTheFormatsOfTheEnglishOnes) {
    const std::set<UINT> german = m_german->Strings();
    for (UINT id : m_english->Strings()) {
        if (german.count(id)) {
            EXPECT_EQ(Conversions(m_german->String(id)), Conversions(m_english->String(id))) << "string " << id;
        }
    }
}

TEST_F(LanguageLibraryTest, GermanTextsAreNotLeftInEnglish) {
    // Texts that read the same in both languages.
    const std::set<std::u16string> same = {u"",       u"OK",         u"...",        u"+",       u"-",
                                           u"Kovra",  u"Kovra Version: ", u"Status:", u"System", u"Information",
                                           u"Debug",  u"Details >>", u"<< Details", u"Byte(s)", u"%I64d (MB)"};
    std::vector<std::string> english;
    auto check = [&](const std::u16string& e, const std::u16string& g, const std::string& where) {
        if (e == g && !same.count(e))
            english.push_back(where + ": " + platform::Utf16ToUtf8(e));
    };
    for (WORD id : m_english->Dialogs()) {
        const auto e = m_english->Dialog(id);
        const auto g = m_german->Dialog(id);
        if (!e || !g || e->items.size() != g->items.size())
            continue; // reported by the tests above
        const std::string where = "dialog " + std::to_string(id);
        check(e->caption, g->caption, where);
        for (size_t i = 0; i < e->items.size(); ++i)
            check(e->items[i].title.text, g->items[i].title.text, where + " control " + std::to_string(e->items[i].id));
    }
    const std::set<UINT> german = m_german->Strings();
    for (UINT id : m_english->Strings())
        if (german.count(id))
            check(m_english->String(id), m_german->String(id), "string " + std::to_string(id));
    EXPECT_EQ(Lines(english), "");
}

TEST_F(LanguageLibraryTest, GermanDialogsHoldTheEnglishControls) {
    for (WORD id : m_english->Dialogs()) {
        const auto english = m_english->Dialog(id);
        ASSERT_TRUE(english) << id;
        const auto german = m_german->Dialog(id);
        if (!german)
            continue; // reported by the test above
        SCOPED_TRACE("dialog " + std::to_string(id));
        EXPECT_EQ(german->style, english->style);
        EXPECT_EQ(german->exStyle, english->exStyle);
        EXPECT_EQ(german->pointSize, english->pointSize);
        EXPECT_TRUE(german->fontName == english->fontName);
        EXPECT_EQ(german->caption.empty(), english->caption.empty());
        ASSERT_EQ(german->items.size(), english->items.size());
        for (size_t i = 0; i < english->items.size(); ++i) {
            const DialogItemTemplate& e = english->items[i];
            const DialogItemTemplate& g = german->items[i];
            SCOPED_TRACE("control " + std::to_string(i) + " (" + std::to_string(e.id) + ")");
            EXPECT_EQ(g.id, e.id);
            EXPECT_EQ(ClassOf(g), ClassOf(e));
            EXPECT_EQ(g.style, e.style);
            EXPECT_EQ(g.exStyle, e.exStyle);
            // Pictures are the same in every language, and a control without a text has none in German either.
            if (e.title.ordinal || e.title.text.empty()) {
                EXPECT_EQ(TitleOf(g), TitleOf(e));
            }
            // Every control lies inside its dialog.
            EXPECT_GE(g.x, 0);
            EXPECT_GE(g.y, 0);
            EXPECT_LE(g.x + g.cx, german->cx);
            if (g.windowClass.ordinal != 0x85) { // a combo box's height holds its drop-down list
                EXPECT_LE(g.y + g.cy, german->cy);
            }
        }
    }
}

// Measures texts in the dialogs' font: a dialog of the library's own gives the font and the dialog units.
class TextFit {
public:
    explicit TextFit(HMODULE module) {
        m_dialog = CreateDialogParamW(module, MAKEINTRESOURCEW(4000), nullptr, Proc, 0);
        if (!m_dialog)
            return;
        m_dc = GetDC(m_dialog);
        m_old = SelectObject(m_dc, reinterpret_cast<HGDIOBJ>(SendMessageW(m_dialog, WM_GETFONT, 0, 0)));
    }
    ~TextFit() {
        if (m_dc) {
            SelectObject(m_dc, m_old);
            ReleaseDC(m_dialog, m_dc);
        }
        if (m_dialog)
            DestroyWindow(m_dialog);
    }
    TextFit(const TextFit&) = delete;
    TextFit& operator=(const TextFit&) = delete;

    bool Ready() const { return m_dc != nullptr; }

    // Why a text does not fit the control at this place of the template, or nothing when it fits; the room is what
    // the layer's controls give their text.
    std::string Check(const DialogItemTemplate& item, const std::u16string& text) {
        RECT rc{item.x, item.y, item.x + item.cx, item.y + item.cy};
        MapDialogRect(m_dialog, &rc);
        const LONG width = rc.right - rc.left, height = rc.bottom - rc.top;
        std::ostringstream why;
        if (item.windowClass.ordinal == 0x82) {
            const DWORD type = item.style & SS_TYPEMASK;
            if (type > SS_RIGHT && type != SS_SIMPLE && type != SS_LEFTNOWORDWRAP)
                return {};
            UINT format = DT_CALCRECT | ((type == SS_SIMPLE || type == SS_LEFTNOWORDWRAP) ? DT_SINGLELINE : DT_WORDBREAK);
            if (item.style & SS_NOPREFIX)
                format |= DT_NOPREFIX;
            RECT calc{0, 0, width, 0};
            DrawTextW(m_dc, text.c_str(), static_cast<int>(text.size()), &calc, format);
            // A line may lose a pixel or two of its descent at the bottom, never a line.
            RECT line{0, 0, width, 0};
            DrawTextW(m_dc, u"X", 1, &line, DT_CALCRECT | DT_SINGLELINE);
            const LONG lines = std::max<LONG>(1, (height + line.bottom / 3) / line.bottom);
            if (calc.right > width || calc.bottom > lines * line.bottom) {
                RECT one{0, 0, 0, 0};
                DrawTextW(m_dc, text.c_str(), static_cast<int>(text.size()), &one, format | DT_SINGLELINE);
                why << "needs " << calc.right << " x " << calc.bottom << " pixels (one line " << one.right
                    << "), has " << width << " x " << height;
            }
            return why.str();
        }
        if (item.windowClass.ordinal != 0x80 || (item.style & (BS_ICON | BS_BITMAP)))
            return {};
        const DWORD type = item.style & BS_TYPEMASK;
        LONG room = width - 4; // push buttons: inside their edges
        if (type == BS_GROUPBOX)
            room = width - 20;
        else if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE ||
                 type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON)
            room = width - 17;
        else if (type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON)
            return {};
        RECT calc{0, 0, 0, 0};
        DrawTextW(m_dc, text.c_str(), static_cast<int>(text.size()), &calc, DT_CALCRECT | DT_SINGLELINE);
        if (calc.right > room)
            why << "needs " << calc.right << " pixels, has " << room;
        return why.str();
    }

private:
    static INT_PTR CALLBACK Proc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

    HWND m_dialog = nullptr;
    HDC m_dc = nullptr;
    HGDIOBJ m_old = nullptr;
};

TEST_F(LanguageLibraryTest, TextsFitTheirControls) {
    // Texts the pages put into their controls while they run: dialog, control, the strings it shows.
    const struct {
        WORD dialog;
        WORD control;
        std::vector<UINT> strings;
    } shown[] = {
        {1200, 1251, {1251, 1262}},
        {1301, 1351, {1351, 1369}},
        {2800, 3, {3, 1392}},
        {3100, 3108, {3108, 3109}},
        {3700, 3704, {3707, 3708}},
        {3700, 3706, {3707, 3708}},
        {3700, 1249, {3715}},
        {800, 807, {803, 804}},
        {800, 838, {836, 837}},
        {800, 835, {835, 810}},
        {800, 2, {834}},
        {800, 813, {842}},
        {262, 1023, {1055, 1057}},
        {2200, 2202, {2204, 2205}},
    };
    for (const Resources* resources : {m_english.get(), m_german.get()}) {
        const bool german = resources == m_german.get();
        TextFit fit(resources->Module());
        ASSERT_TRUE(fit.Ready());
        for (WORD id : resources->Dialogs()) {
            const auto dlg = resources->Dialog(id);
            ASSERT_TRUE(dlg) << id;
            for (const DialogItemTemplate& item : dlg->items) {
                std::vector<std::u16string> texts;
                if (!item.title.ordinal && !item.title.text.empty())
                    texts.push_back(item.title.text);
                for (const auto& s : shown)
                    if (s.dialog == id && s.control == item.id)
                        for (UINT string : s.strings)
                            texts.push_back(resources->String(string));
                for (const auto& text : texts) {
                    const std::string why = fit.Check(item, text);
                    EXPECT_EQ(why, "") << (german ? "German" : "English") << " dialog " << id << ", control "
                                       << item.id << ": \"" << platform::Utf16ToUtf8(text) << "\"";
                }
            }
        }
    }
}

} // namespace
