// The binary records of resources, as a Windows module holds them: string-table blocks, version records, dialog
// templates and menu templates, little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace rescomp {

// Little-endian record writer.
struct Bytes {
    std::vector<uint8_t> data;
    void U8(uint8_t v) { data.push_back(v); }
    void U16(uint32_t v) {
        data.push_back(static_cast<uint8_t>(v));
        data.push_back(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v) {
        U16(v & 0xFFFF);
        U16(v >> 16);
    }
    void Text(const std::u16string& s) {
        for (char16_t c : s)
            U16(c);
        U16(0);
    }
    void Align4() {
        while (data.size() % 4)
            data.push_back(0);
    }
    void Patch16(size_t offset, uint32_t v) {
        data[offset] = static_cast<uint8_t>(v);
        data[offset + 1] = static_cast<uint8_t>(v >> 8);
    }
};

// A string-table block holds the sixteen strings whose ids share all but the last four bits; an empty string is
// a missing one.
std::vector<uint8_t> EncodeStringBlock(const std::vector<std::u16string>& slots);
// The sixteen strings of a block written before (blocks of several STRINGTABLEs merge).
std::vector<std::u16string> DecodeStringBlock(const std::vector<uint8_t>& data);

// One BLOCK or VALUE of a version record.
struct VersionNode {
    std::u16string key;
    bool isText = true;
    std::u16string text;
    std::vector<uint16_t> words;
    std::vector<VersionNode> children;
};

// The fixed part of a version record (VS_FIXEDFILEINFO) as a script gives it.
struct FixedVersion {
    uint32_t fileMS = 0, fileLS = 0, productMS = 0, productLS = 0;
    uint32_t flagsMask = 0, flags = 0, os = 0, fileType = 0, subtype = 0;
};

std::vector<uint8_t> EncodeVersion(const FixedVersion& fixed, const VersionNode& root);

struct DialogItem {
    uint32_t style = 0, exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    uint16_t id = 0;
    uint16_t classOrdinal = 0;
    std::u16string className;
    bool titleIsOrdinal = false;
    uint16_t titleOrdinal = 0;
    std::u16string title;
};

// A dialog template's header; the font is written when the style has DS_SETFONT.
struct DialogHeader {
    uint32_t style = 0, exStyle = 0;
    std::vector<int64_t> rect; // x, y, cx, cy
    uint16_t menuId = 0;
    std::u16string menuName;
    std::u16string className;
    std::u16string caption;
    uint16_t pointSize = 0;
    std::u16string fontName;
};

std::vector<uint8_t> EncodeDialog(const DialogHeader& dialog, const std::vector<DialogItem>& items);

struct MenuItem {
    uint16_t flags = 0;
    uint16_t id = 0;
    std::u16string text;
    bool popup = false;
    std::vector<MenuItem> children;
};

std::vector<uint8_t> EncodeMenu(const std::vector<MenuItem>& items);

} // namespace rescomp
