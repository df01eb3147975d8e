// The binary records of resources.

#include "tools/rescomp/Encoders.h"

#include "platform/res/resources.h"
#include "platform/ui/dialog.h"
#include "platform/ui/menu.h"

namespace rescomp {
namespace {

void WriteVersionNode(Bytes& out, const VersionNode& node, const std::vector<uint8_t>* fixed) {
    out.Align4();
    const size_t start = out.data.size();
    out.U16(0); // length, patched below
    if (fixed) {
        out.U16(static_cast<uint32_t>(fixed->size()));
        out.U16(0);
    } else if (!node.children.empty() || node.isText) {
        // Text values count characters with the terminator; blocks have none.
        out.U16(node.children.empty() ? static_cast<uint32_t>(node.text.size() + 1) : 0);
        out.U16(1);
    } else {
        out.U16(static_cast<uint32_t>(node.words.size() * 2));
        out.U16(0);
    }
    out.Text(node.key);
    out.Align4();
    if (fixed) {
        out.data.insert(out.data.end(), fixed->begin(), fixed->end());
    } else if (node.children.empty() && node.isText) {
        out.Text(node.text);
    } else {
        for (uint16_t w : node.words)
            out.U16(w);
    }
    for (const auto& child : node.children)
        WriteVersionNode(out, child, nullptr);
    out.Patch16(start, static_cast<uint32_t>(out.data.size() - start));
}

void WriteMenuItems(Bytes& out, const std::vector<MenuItem>& items) {
    for (size_t i = 0; i < items.size(); ++i) {
        const MenuItem& item = items[i];
        uint16_t option = item.flags;
        if (item.popup)
            option |= MF_POPUP;
        if (i + 1 == items.size())
            option |= MF_END;
        out.U16(option);
        if (!item.popup)
            out.U16(item.id);
        out.Text(item.text);
        if (item.popup) {
            if (item.children.empty()) {
                // An empty popup still needs an item list; an ending separator stands for none.
                out.U16(MF_END);
                out.U16(0);
                out.U16(0);
            } else {
                WriteMenuItems(out, item.children);
            }
        }
    }
}

} // namespace

std::vector<uint8_t> EncodeStringBlock(const std::vector<std::u16string>& slots) {
    Bytes bytes;
    for (auto& slot : slots) {
        bytes.U16(static_cast<uint32_t>(slot.size()));
        for (char16_t c : slot)
            bytes.U16(c);
    }
    return std::move(bytes.data);
}

std::vector<std::u16string> DecodeStringBlock(const std::vector<uint8_t>& data) {
    std::vector<std::u16string> slots(16);
    size_t offset = 0;
    for (auto& slot : slots) {
        uint16_t length = static_cast<uint16_t>(data[offset] | (data[offset + 1] << 8));
        offset += 2;
        for (uint16_t i = 0; i < length; ++i, offset += 2)
            slot += static_cast<char16_t>(data[offset] | (data[offset + 1] << 8));
    }
    return slots;
}

std::vector<uint8_t> EncodeVersion(const FixedVersion& v, const VersionNode& root) {
    constexpr uint32_t kStructVersion = 0x00010000u; // VS_FIXEDFILEINFO 1.0
    Bytes fixed;
    for (uint32_t value : {VS_FFI_SIGNATURE, kStructVersion, v.fileMS, v.fileLS, v.productMS, v.productLS, v.flagsMask,
                           v.flags, v.os, v.fileType, v.subtype, 0u, 0u})
        fixed.U32(value);
    Bytes out;
    WriteVersionNode(out, root, &fixed.data);
    return std::move(out.data);
}

std::vector<uint8_t> EncodeDialog(const DialogHeader& dialog, const std::vector<DialogItem>& items) {
    Bytes out;
    out.U32(dialog.style);
    out.U32(dialog.exStyle);
    out.U16(static_cast<uint32_t>(items.size()));
    for (int64_t v : dialog.rect)
        out.U16(static_cast<uint32_t>(v & 0xFFFF));
    if (dialog.menuId) {
        out.U16(0xFFFF);
        out.U16(dialog.menuId);
    } else if (!dialog.menuName.empty()) {
        out.Text(dialog.menuName);
    } else {
        out.U16(0);
    }
    if (dialog.className.empty())
        out.U16(0);
    else
        out.Text(dialog.className);
    out.Text(dialog.caption);
    if (dialog.style & DS_SETFONT) {
        out.U16(dialog.pointSize);
        out.Text(dialog.fontName);
    }
    for (const auto& item : items) {
        out.Align4();
        out.U32(item.style);
        out.U32(item.exStyle);
        out.U16(static_cast<uint16_t>(item.x));
        out.U16(static_cast<uint16_t>(item.y));
        out.U16(static_cast<uint16_t>(item.cx));
        out.U16(static_cast<uint16_t>(item.cy));
        out.U16(item.id);
        if (item.classOrdinal) {
            out.U16(0xFFFF);
            out.U16(item.classOrdinal);
        } else {
            out.Text(item.className);
        }
        if (item.titleIsOrdinal) {
            out.U16(0xFFFF);
            out.U16(item.titleOrdinal);
        } else {
            out.Text(item.title);
        }
        out.U16(0); // no creation data
    }
    return std::move(out.data);
}

std::vector<uint8_t> EncodeMenu(const std::vector<MenuItem>& items) {
    Bytes out;
    out.U16(0);
    out.U16(0);
    WriteMenuItems(out, items);
    return std::move(out.data);
}

} // namespace rescomp
