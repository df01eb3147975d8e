// The parser of resource scripts.

#include "tools/rescomp/Parser.h"

#include "tools/rescomp/Builtins.h"

#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/menu.h"
#include "platform/ui/scrollbar.h"
#include "platform/ui/winuser_constants.h"

#include <cctype>
#include <fstream>

namespace rescomp {
namespace {

std::string Upper(std::string s) {
    for (auto& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The class ordinals of a dialog template.
constexpr uint16_t kButton = 0x80;
constexpr uint16_t kEdit = 0x81;
constexpr uint16_t kStatic = 0x82;
constexpr uint16_t kListBox = 0x83;
constexpr uint16_t kScrollBar = 0x84;
constexpr uint16_t kComboBox = 0x85;

struct ControlKind {
    const char* keyword;
    uint16_t classOrdinal;
    uint32_t style;
    bool hasText;
};

const ControlKind* FindControlKind(const std::string& keyword) {
    static const ControlKind kinds[] = {
        {"LTEXT", kStatic, WS_GROUP | SS_LEFT, true},
        {"RTEXT", kStatic, WS_GROUP | SS_RIGHT, true},
        {"CTEXT", kStatic, WS_GROUP | SS_CENTER, true},
        {"PUSHBUTTON", kButton, WS_TABSTOP | BS_PUSHBUTTON, true},
        {"DEFPUSHBUTTON", kButton, WS_TABSTOP | BS_DEFPUSHBUTTON, true},
        {"GROUPBOX", kButton, BS_GROUPBOX, true},
        {"CHECKBOX", kButton, WS_TABSTOP | BS_CHECKBOX, true},
        {"AUTOCHECKBOX", kButton, WS_TABSTOP | BS_AUTOCHECKBOX, true},
        {"RADIOBUTTON", kButton, BS_RADIOBUTTON, true},
        {"AUTORADIOBUTTON", kButton, BS_AUTORADIOBUTTON, true},
        {"STATE3", kButton, WS_TABSTOP | BS_3STATE, true},
        {"AUTO3STATE", kButton, WS_TABSTOP | BS_AUTO3STATE, true},
        {"EDITTEXT", kEdit, WS_TABSTOP | WS_BORDER, false},
        {"COMBOBOX", kComboBox, WS_TABSTOP | CBS_SIMPLE, false},
        {"LISTBOX", kListBox, WS_BORDER | LBS_NOTIFY, false},
        {"SCROLLBAR", kScrollBar, SBS_HORZ, false},
        {"ICON", kStatic, SS_ICON, true},
    };
    for (const auto& kind : kinds) {
        if (keyword == kind.keyword)
            return &kind;
    }
    return nullptr;
}

uint16_t ClassOrdinal(const std::string& name) {
    const std::string upper = Upper(name);
    if (upper == "BUTTON")
        return kButton;
    if (upper == "EDIT")
        return kEdit;
    if (upper == "STATIC")
        return kStatic;
    if (upper == "LISTBOX")
        return kListBox;
    if (upper == "SCROLLBAR")
        return kScrollBar;
    if (upper == "COMBOBOX")
        return kComboBox;
    return 0;
}

} // namespace

void Parser::Run() {
    while (!AtEnd())
        Statement();
}

bool Parser::AtEnd() const {
    return m_pos >= m_tokens.size();
}

const Token& Parser::Cur() const {
    static const Token end;
    return AtEnd() ? end : m_tokens[m_pos];
}

void Parser::Fail(const std::string& message) const {
    const Token& at = AtEnd() ? (m_tokens.empty() ? Cur() : m_tokens.back()) : Cur();
    throw CompileError(at.file + ":" + std::to_string(at.line) + ": " + message);
}

bool Parser::IsIdent(const char* word) const {
    return Cur().kind == Tok::Ident && Upper(Cur().text) == word;
}

bool Parser::IsPunct(const char* p) const {
    return Cur().kind == Tok::Punct && Cur().text == p;
}

bool Parser::Accept(const char* p) {
    if (!IsPunct(p))
        return false;
    ++m_pos;
    return true;
}

void Parser::Expect(const char* p) {
    if (!Accept(p))
        Fail(std::string("expected '") + p + "'");
}

void Parser::SkipComma() {
    Accept(",");
}

bool Parser::IsBegin() const {
    return IsIdent("BEGIN") || IsPunct("{");
}

bool Parser::IsEndOfBlock() const {
    return IsIdent("END") || IsPunct("}");
}

void Parser::ExpectBegin() {
    if (!IsBegin())
        Fail("expected BEGIN");
    ++m_pos;
}

void Parser::ExpectEnd() {
    if (!IsEndOfBlock())
        Fail("expected END");
    ++m_pos;
}

std::string Parser::ExpectString() {
    if (Cur().kind != Tok::String)
        Fail("expected a string");
    return m_tokens[m_pos++].text;
}

bool Parser::IsDefined(const std::string& name) const {
    return m_defines.count(name) || Builtins().count(name);
}

bool Parser::StartsExpression() const {
    const Token& t = Cur();
    if (t.kind == Tok::Number)
        return true;
    if (t.kind == Tok::Ident)
        return IsDefined(t.text) || Upper(t.text) == "NOT";
    return t.kind == Tok::Punct && (t.text == "(" || t.text == "-" || t.text == "~");
}

int64_t Parser::Primary(int depth) {
    if (depth > 64)
        Fail("definitions nest too deeply");
    const Token t = Cur();
    if (t.kind == Tok::Number) {
        ++m_pos;
        return t.value;
    }
    if (t.kind == Tok::Punct && t.text == "(") {
        ++m_pos;
        int64_t v = Expression();
        Expect(")");
        return v;
    }
    if (t.kind == Tok::Punct && t.text == "-") {
        ++m_pos;
        return -Primary(depth + 1);
    }
    if (t.kind == Tok::Punct && t.text == "~") {
        ++m_pos;
        return ~Primary(depth + 1);
    }
    if (t.kind == Tok::Ident) {
        auto define = m_defines.find(t.text);
        if (define != m_defines.end()) {
            ++m_pos;
            Parser sub(define->second, m_defines, m_options, m_scriptDir, m_out);
            if (sub.AtEnd())
                Fail("'" + t.text + "' has no value");
            int64_t v = sub.Expression();
            if (!sub.AtEnd())
                Fail("'" + t.text + "' is not a plain value");
            return v;
        }
        auto builtin = Builtins().find(t.text);
        if (builtin != Builtins().end()) {
            ++m_pos;
            return builtin->second;
        }
        Fail("unknown name '" + t.text + "'");
    }
    Fail("expected a value");
}

// Values joined by | + - from left to right; NOT clears the bits of the value that follows it.
int64_t Parser::Expression(int64_t initial) {
    int64_t value = initial;
    char op = '|';
    for (;;) {
        if (IsIdent("NOT")) {
            ++m_pos;
            value &= ~Primary();
        } else {
            int64_t rhs = Primary();
            value = op == '|' ? (value | rhs) : op == '+' ? value + rhs : value - rhs;
        }
        if (!(IsPunct("|") || IsPunct("+") || IsPunct("-")))
            return value;
        op = Cur().text[0];
        ++m_pos;
    }
}

uint16_t Parser::Word(int64_t v) const {
    return static_cast<uint16_t>(v);
}

ResourceName Parser::NameToken() {
    ResourceName name;
    if (Cur().kind == Tok::Ident && !IsDefined(Cur().text)) {
        name.isInteger = false;
        name.name = Utf8ToUtf16(Upper(m_tokens[m_pos++].text));
        return name;
    }
    if (Cur().kind == Tok::String) {
        name.isInteger = false;
        name.name = Utf8ToUtf16(Upper(m_tokens[m_pos++].text));
        return name;
    }
    name.id = Word(Expression());
    return name;
}

void Parser::Add(ResourceName type, ResourceName name, std::vector<uint8_t> data, bool isVersion) {
    Resource resource;
    resource.type = std::move(type);
    resource.name = std::move(name);
    resource.language = m_language;
    resource.data = std::move(data);
    resource.isVersion = isVersion;
    for (const auto& existing : m_out.resources) {
        if (existing.type.isInteger == resource.type.isInteger && existing.type.id == resource.type.id &&
            existing.type.name == resource.type.name && existing.name.isInteger == resource.name.isInteger &&
            existing.name.id == resource.name.id && existing.name.name == resource.name.name &&
            existing.language == resource.language)
            Fail("resource defined twice");
    }
    m_out.resources.push_back(std::move(resource));
}

ResourceName Parser::IntName(uint16_t id) {
    ResourceName name;
    name.id = id;
    return name;
}

void Parser::Statement() {
    if (IsIdent("LANGUAGE")) {
        ++m_pos;
        int64_t primary = Expression();
        if (Accept(","))
            m_language = static_cast<uint16_t>((Expression() << 10) | primary);
        else
            m_language = Word(primary);
        return;
    }
    if (IsIdent("STRINGTABLE")) {
        ++m_pos;
        StringTable();
        return;
    }
    ResourceName name = NameToken();
    if (Cur().kind != Tok::Ident && Cur().kind != Tok::Number)
        Fail("expected a resource type");
    if (IsIdent("VERSIONINFO")) {
        ++m_pos;
        Add(IntName(16), name, VersionInfo(), true);
        return;
    }
    if (IsIdent("DIALOG") || IsIdent("DIALOGEX")) {
        ++m_pos;
        Add(IntName(5), name, Dialog());
        return;
    }
    if (IsIdent("MENU") || IsIdent("MENUEX")) {
        ++m_pos;
        Add(IntName(4), name, Menu());
        return;
    }
    if (IsIdent("TOOLBAR")) {
        ++m_pos;
        Add(IntName(241), name, Toolbar());
        return;
    }
    ResourceName type;
    bool bitmap = false;
    if (IsIdent("ICON")) {
        type = IntName(14);
        ++m_pos;
    } else if (IsIdent("CURSOR")) {
        type = IntName(12);
        ++m_pos;
    } else if (IsIdent("BITMAP")) {
        type = IntName(2);
        bitmap = true;
        ++m_pos;
    } else if (IsIdent("RCDATA")) {
        type = IntName(10);
        ++m_pos;
    } else {
        type = NameToken();
    }
    // Optional memory flags of old scripts mean nothing here.
    while (IsIdent("PRELOAD") || IsIdent("LOADONCALL") || IsIdent("MOVEABLE") || IsIdent("DISCARDABLE") ||
           IsIdent("FIXED") || IsIdent("PURE") || IsIdent("IMPURE"))
        ++m_pos;
    std::vector<uint8_t> data = FileData(ExpectString());
    if (bitmap && data.size() >= 14 && data[0] == 'B' && data[1] == 'M')
        data.erase(data.begin(), data.begin() + 14); // a bitmap resource is the DIB without its file header
    Add(type, name, std::move(data));
}

std::string Parser::Substitute(const std::string& path) {
    std::string out;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '$' && i + 1 < path.size() && path[i + 1] == '{') {
            size_t close = path.find('}', i);
            if (close == std::string::npos)
                Fail("unterminated ${ in '" + path + "'");
            std::string variable = path.substr(i + 2, close - i - 2);
            auto it = m_options.variables.find(variable);
            if (it == m_options.variables.end())
                Fail("variable '" + variable + "' is not given (-D " + variable + "=...)");
            out += it->second;
            i = close;
            continue;
        }
        out += path[i];
    }
    return out;
}

std::vector<uint8_t> Parser::FileData(const std::string& written) {
    std::string path = Substitute(written);
    if (!path.empty() && path[0] != '/')
        path = m_scriptDir + "/" + path;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        Fail("cannot read '" + path + "'");
    m_out.dependencies.push_back(path);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Parser::StringTable() {
    while (!IsBegin() && !AtEnd())
        ++m_pos; // options (LANGUAGE is not taken here; write it before the table)
    ExpectBegin();
    std::map<uint16_t, std::u16string> strings;
    while (!IsEndOfBlock()) {
        if (AtEnd())
            Fail("STRINGTABLE without END");
        uint16_t id = Word(Expression());
        SkipComma();
        std::u16string text = Utf8ToUtf16(ExpectString());
        while (Cur().kind == Tok::String) // adjacent strings join
            text += Utf8ToUtf16(ExpectString());
        if (!strings.emplace(id, text).second)
            Fail("string " + std::to_string(id) + " defined twice");
    }
    ExpectEnd();
    std::map<uint16_t, std::map<uint16_t, std::u16string>> blocks;
    for (auto& [id, text] : strings) {
        if (text.size() > 0xFFFF)
            Fail("string " + std::to_string(id) + " is too long");
        blocks[static_cast<uint16_t>((id >> 4) + 1)][static_cast<uint16_t>(id & 15)] = text;
    }
    for (auto& [block, entries] : blocks) {
        // Blocks of several STRINGTABLEs merge, as they do in a Windows module.
        Resource* existing = nullptr;
        for (auto& r : m_out.resources) {
            if (r.type.isInteger && r.type.id == 6 && r.name.isInteger && r.name.id == block &&
                r.language == m_language)
                existing = &r;
        }
        std::vector<std::u16string> slots =
            existing ? DecodeStringBlock(existing->data) : std::vector<std::u16string>(16);
        for (auto& [index, text] : entries) {
            if (!slots[index].empty())
                Fail("string " + std::to_string((block - 1) * 16 + index) + " defined twice");
            slots[index] = text;
        }
        std::vector<uint8_t> data = EncodeStringBlock(slots);
        if (existing)
            existing->data = std::move(data);
        else
            Add(IntName(6), IntName(block), std::move(data));
    }
}

std::vector<int64_t> Parser::NumberList(size_t count) {
    std::vector<int64_t> values;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            Expect(",");
        values.push_back(Expression());
    }
    return values;
}

void Parser::VersionBlock(VersionNode& node) {
    ExpectBegin();
    while (!IsEndOfBlock()) {
        if (AtEnd())
            Fail("BLOCK without END");
        VersionNode child;
        if (IsIdent("BLOCK")) {
            ++m_pos;
            child.key = Utf8ToUtf16(ExpectString());
            VersionBlock(child);
        } else if (IsIdent("VALUE")) {
            ++m_pos;
            child.key = Utf8ToUtf16(ExpectString());
            if (Accept(",") && Cur().kind == Tok::String) {
                child.text = Utf8ToUtf16(ExpectString());
                while (Cur().kind == Tok::String)
                    child.text += Utf8ToUtf16(ExpectString());
            } else {
                child.isText = false;
                child.words.push_back(Word(Expression()));
                while (Accept(","))
                    child.words.push_back(Word(Expression()));
            }
        } else {
            Fail("expected BLOCK or VALUE");
        }
        node.children.push_back(std::move(child));
    }
    ExpectEnd();
}

std::vector<uint8_t> Parser::VersionInfo() {
    FixedVersion fixed;
    while (!IsBegin()) {
        if (AtEnd())
            Fail("VERSIONINFO without BEGIN");
        if (IsIdent("FILEVERSION") || IsIdent("PRODUCTVERSION")) {
            bool file = IsIdent("FILEVERSION");
            ++m_pos;
            auto v = NumberList(4);
            uint32_t ms = static_cast<uint32_t>(((v[0] & 0xFFFF) << 16) | (v[1] & 0xFFFF));
            uint32_t ls = static_cast<uint32_t>(((v[2] & 0xFFFF) << 16) | (v[3] & 0xFFFF));
            (file ? fixed.fileMS : fixed.productMS) = ms;
            (file ? fixed.fileLS : fixed.productLS) = ls;
        } else if (IsIdent("FILEFLAGSMASK")) {
            ++m_pos;
            fixed.flagsMask = static_cast<uint32_t>(Expression());
        } else if (IsIdent("FILEFLAGS")) {
            ++m_pos;
            fixed.flags = static_cast<uint32_t>(Expression());
        } else if (IsIdent("FILEOS")) {
            ++m_pos;
            fixed.os = static_cast<uint32_t>(Expression());
        } else if (IsIdent("FILETYPE")) {
            ++m_pos;
            fixed.fileType = static_cast<uint32_t>(Expression());
        } else if (IsIdent("FILESUBTYPE")) {
            ++m_pos;
            fixed.subtype = static_cast<uint32_t>(Expression());
        } else {
            Fail("unknown VERSIONINFO statement");
        }
    }
    VersionNode root;
    root.key = u"VS_VERSION_INFO";
    root.isText = false;
    VersionBlock(root);
    return EncodeVersion(fixed, root);
}

void Parser::ControlText(DialogItem& item) {
    if (Cur().kind == Tok::String) {
        item.title = Utf8ToUtf16(ExpectString());
    } else {
        item.titleIsOrdinal = true;
        item.titleOrdinal = Word(Expression());
    }
}

void Parser::ControlRect(DialogItem& item) {
    auto v = NumberList(4);
    item.x = static_cast<int16_t>(v[0]);
    item.y = static_cast<int16_t>(v[1]);
    item.cx = static_cast<int16_t>(v[2]);
    item.cy = static_cast<int16_t>(v[3]);
}

DialogItem Parser::Control() {
    constexpr uint32_t kChildVisible = WS_CHILD | WS_VISIBLE;
    DialogItem item;
    const std::string keyword = Upper(Cur().text);
    ++m_pos;
    if (keyword == "CONTROL") {
        ControlText(item);
        Expect(",");
        item.id = Word(Expression());
        Expect(",");
        std::string className;
        if (Cur().kind == Tok::String || Cur().kind == Tok::Ident)
            className = m_tokens[m_pos++].text;
        else
            Fail("expected a window class");
        item.classOrdinal = ClassOrdinal(className);
        if (!item.classOrdinal)
            item.className = Utf8ToUtf16(className);
        Expect(",");
        // The style adds to WS_CHILD | WS_VISIBLE, which NOT can clear.
        int64_t style = Expression(kChildVisible);
        item.style = static_cast<uint32_t>(style);
        Expect(",");
        ControlRect(item);
        if (Accept(","))
            item.exStyle = static_cast<uint32_t>(Expression());
        return item;
    }
    const ControlKind* kind = FindControlKind(keyword);
    if (!kind)
        Fail("unknown control '" + keyword + "'");
    item.classOrdinal = kind->classOrdinal;
    if (kind->hasText) {
        ControlText(item);
        Expect(",");
    }
    item.id = Word(Expression());
    Expect(",");
    if (keyword == "ICON") {
        auto v = NumberList(2);
        item.x = static_cast<int16_t>(v[0]);
        item.y = static_cast<int16_t>(v[1]);
        if (Accept(",")) {
            item.cx = static_cast<int16_t>(Expression());
            Expect(",");
            item.cy = static_cast<int16_t>(Expression());
        }
    } else {
        ControlRect(item);
    }
    int64_t style = kChildVisible | kind->style;
    if (Accept(",")) {
        // A combo box's kind (simple, drop-down or drop-down list: the two lowest bits) is the one the script
        // names; the default kind stands only where it names none. Added to the default, CBS_DROPDOWN would turn
        // into CBS_DROPDOWNLIST.
        const int64_t kComboKind = 0x3;
        if (kind->classOrdinal == kComboBox)
            style &= ~kComboKind;
        style = Expression(style);
        if (kind->classOrdinal == kComboBox && !(style & kComboKind))
            style |= kind->style & kComboKind;
        if (Accept(","))
            item.exStyle = static_cast<uint32_t>(Expression());
    }
    item.style = static_cast<uint32_t>(style);
    return item;
}

std::vector<uint8_t> Parser::Dialog() {
    DialogHeader dialog;
    dialog.rect = NumberList(4);
    dialog.style = WS_POPUP | WS_BORDER | WS_SYSMENU;
    bool styleGiven = false;
    bool hasFont = false;
    while (!IsBegin()) {
        if (AtEnd())
            Fail("DIALOG without BEGIN");
        if (IsIdent("STYLE")) {
            ++m_pos;
            dialog.style = static_cast<uint32_t>(Expression());
            styleGiven = true;
        } else if (IsIdent("EXSTYLE")) {
            ++m_pos;
            dialog.exStyle = static_cast<uint32_t>(Expression());
        } else if (IsIdent("CAPTION")) {
            ++m_pos;
            dialog.caption = Utf8ToUtf16(ExpectString());
        } else if (IsIdent("FONT")) {
            ++m_pos;
            dialog.pointSize = Word(Expression());
            Expect(",");
            dialog.fontName = Utf8ToUtf16(ExpectString());
            hasFont = true;
            while (Accept(","))
                Expression(); // weight, italic and character set are not kept in this layout
        } else if (IsIdent("MENU")) {
            ++m_pos;
            ResourceName menu = NameToken();
            dialog.menuId = menu.isInteger ? menu.id : 0;
            dialog.menuName = menu.name;
        } else if (IsIdent("CLASS")) {
            ++m_pos;
            dialog.className = Utf8ToUtf16(ExpectString());
        } else if (IsIdent("CHARACTERISTICS") || IsIdent("VERSION")) {
            ++m_pos;
            Expression();
        } else if (IsIdent("LANGUAGE")) {
            Fail("write LANGUAGE before the dialog");
        } else {
            Fail("unknown DIALOG statement '" + Cur().text + "'");
        }
    }
    if (!dialog.caption.empty() && !styleGiven)
        dialog.style |= WS_CAPTION;
    if (hasFont)
        dialog.style |= DS_SETFONT;
    ExpectBegin();
    std::vector<DialogItem> items;
    while (!IsEndOfBlock()) {
        if (AtEnd() || Cur().kind != Tok::Ident)
            Fail("expected a control");
        items.push_back(Control());
    }
    ExpectEnd();
    return EncodeDialog(dialog, items);
}

uint16_t Parser::MenuOptions() {
    uint16_t flags = 0;
    for (;;) {
        Accept(",");
        if (IsIdent("GRAYED"))
            flags |= MF_GRAYED;
        else if (IsIdent("INACTIVE"))
            flags |= MF_DISABLED;
        else if (IsIdent("CHECKED"))
            flags |= MF_CHECKED;
        else if (IsIdent("MENUBARBREAK"))
            flags |= MF_MENUBARBREAK;
        else if (IsIdent("MENUBREAK"))
            flags |= MF_MENUBREAK;
        else if (IsIdent("HELP"))
            flags |= MF_HELP;
        else
            return flags;
        ++m_pos;
    }
}

void Parser::MenuItems(std::vector<MenuItem>& items, int depth) {
    if (depth > 16)
        Fail("menus nest too deeply");
    ExpectBegin();
    while (!IsEndOfBlock()) {
        if (AtEnd())
            Fail("MENU without END");
        MenuItem item;
        if (IsIdent("POPUP")) {
            ++m_pos;
            item.popup = true;
            item.text = Utf8ToUtf16(ExpectString());
            item.flags = MenuOptions();
            MenuItems(item.children, depth + 1);
        } else if (IsIdent("MENUITEM")) {
            ++m_pos;
            if (IsIdent("SEPARATOR")) {
                ++m_pos;
            } else {
                item.text = Utf8ToUtf16(ExpectString());
                Expect(",");
                item.id = Word(Expression());
                item.flags = MenuOptions();
            }
        } else {
            Fail("expected POPUP or MENUITEM");
        }
        items.push_back(std::move(item));
    }
    ExpectEnd();
}

std::vector<uint8_t> Parser::Menu() {
    while (!IsBegin() && !AtEnd())
        ++m_pos;
    std::vector<MenuItem> items;
    MenuItems(items, 0);
    return EncodeMenu(items);
}

// TOOLBAR width, height BEGIN BUTTON id | SEPARATOR ... END: WORD version 1, the image size, the number of
// buttons, and a WORD command id per button (0 for a separator).
std::vector<uint8_t> Parser::Toolbar() {
    const uint16_t width = Word(Expression());
    SkipComma();
    const uint16_t height = Word(Expression());
    std::vector<uint16_t> ids;
    ExpectBegin();
    while (!IsEndOfBlock()) {
        if (AtEnd())
            Fail("TOOLBAR without END");
        if (IsIdent("BUTTON")) {
            ++m_pos;
            ids.push_back(Word(Expression()));
        } else if (IsIdent("SEPARATOR")) {
            ++m_pos;
            ids.push_back(0);
        } else {
            Fail("expected BUTTON or SEPARATOR");
        }
    }
    ExpectEnd();
    if (ids.size() > 0xFFFF)
        Fail("too many buttons");
    std::vector<uint8_t> data;
    auto word = [&data](uint16_t w) {
        data.push_back(static_cast<uint8_t>(w & 0xFF));
        data.push_back(static_cast<uint8_t>(w >> 8));
    };
    word(1);
    word(width);
    word(height);
    word(static_cast<uint16_t>(ids.size()));
    for (uint16_t id : ids)
        word(id);
    return data;
}

} // namespace rescomp
