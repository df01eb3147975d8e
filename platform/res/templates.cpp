#include "platform/res/templates.h"

#include <cstring>

namespace platform::res {
namespace {

class Reader {
public:
    Reader(const void* data, size_t size) : m_data(static_cast<const BYTE*>(data)), m_size(data ? size : 0) {}

    bool Word(WORD& out) {
        if (m_offset + 2 > m_size)
            return m_ok = false;
        out = static_cast<WORD>(m_data[m_offset] | (m_data[m_offset + 1] << 8));
        m_offset += 2;
        return true;
    }
    bool Dword(DWORD& out) {
        WORD low = 0, high = 0;
        if (!Word(low) || !Word(high))
            return false;
        out = static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16);
        return true;
    }
    bool Short(short& out) {
        WORD value = 0;
        if (!Word(value))
            return false;
        out = static_cast<short>(value);
        return true;
    }
    bool Text(std::u16string& out) {
        out.clear();
        for (;;) {
            WORD ch = 0;
            if (!Word(ch))
                return false;
            if (ch == 0)
                return true;
            out += static_cast<char16_t>(ch);
        }
    }
    bool NameOrOrd(NameOrOrdinal& out) {
        WORD first = 0;
        if (!Word(first))
            return false;
        if (first == 0)
            return true;
        if (first == 0xFFFF)
            return Word(out.ordinal);
        out.text = static_cast<char16_t>(first);
        std::u16string rest;
        if (!Text(rest))
            return false;
        out.text += rest;
        return true;
    }
    bool Bytes(std::vector<BYTE>& out, size_t count) {
        if (m_offset + count > m_size)
            return m_ok = false;
        out.assign(m_data + m_offset, m_data + m_offset + count);
        m_offset += count;
        return true;
    }
    void AlignDword() { m_offset = (m_offset + 3) & ~static_cast<size_t>(3); }
    bool AtEnd() const { return m_offset >= m_size; }
    bool Ok() const { return m_ok; }

private:
    const BYTE* m_data;
    size_t m_size;
    size_t m_offset = 0;
    bool m_ok = true;
};

bool ParseMenuItems(Reader& reader, std::vector<MenuItemTemplate>& items, int depth) {
    constexpr WORD kPopup = 0x10;
    constexpr WORD kEnd = 0x80;
    if (depth > 16)
        return false;
    for (;;) {
        MenuItemTemplate item;
        WORD option = 0;
        if (!reader.Word(option))
            return false;
        if (!(option & kPopup) && !reader.Word(item.id))
            return false;
        if (!reader.Text(item.text))
            return false;
        item.flags = static_cast<WORD>(option & ~kEnd);
        if ((option & kPopup) && !ParseMenuItems(reader, item.children, depth + 1))
            return false;
        items.push_back(std::move(item));
        if (option & kEnd)
            return true;
    }
}

} // namespace

std::optional<DialogTemplate> ParseDialogTemplate(const void* data, size_t size) {
    Reader reader(data, size);
    DialogTemplate dialog;
    WORD count = 0;
    if (!reader.Dword(dialog.style) || !reader.Dword(dialog.exStyle) || !reader.Word(count) ||
        !reader.Short(dialog.x) || !reader.Short(dialog.y) || !reader.Short(dialog.cx) || !reader.Short(dialog.cy))
        return std::nullopt;
    if (!reader.NameOrOrd(dialog.menu) || !reader.NameOrOrd(dialog.windowClass) || !reader.Text(dialog.caption))
        return std::nullopt;
    if ((dialog.style & kDsSetFont) && (!reader.Word(dialog.pointSize) || !reader.Text(dialog.fontName)))
        return std::nullopt;
    for (WORD i = 0; i < count; ++i) {
        reader.AlignDword();
        DialogItemTemplate item;
        WORD extra = 0;
        if (!reader.Dword(item.style) || !reader.Dword(item.exStyle) || !reader.Short(item.x) ||
            !reader.Short(item.y) || !reader.Short(item.cx) || !reader.Short(item.cy) || !reader.Word(item.id) ||
            !reader.NameOrOrd(item.windowClass) || !reader.NameOrOrd(item.title) || !reader.Word(extra) ||
            !reader.Bytes(item.creationData, extra))
            return std::nullopt;
        dialog.items.push_back(std::move(item));
    }
    return dialog;
}

std::optional<std::vector<MenuItemTemplate>> ParseMenuTemplate(const void* data, size_t size) {
    Reader reader(data, size);
    WORD version = 0, headerSize = 0;
    if (!reader.Word(version) || !reader.Word(headerSize) || version != 0)
        return std::nullopt;
    std::vector<BYTE> skipped;
    if (!reader.Bytes(skipped, headerSize))
        return std::nullopt;
    std::vector<MenuItemTemplate> items;
    if (reader.AtEnd())
        return items;
    if (!ParseMenuItems(reader, items, 0))
        return std::nullopt;
    return items;
}

} // namespace platform::res
