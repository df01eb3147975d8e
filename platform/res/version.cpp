// The version-information functions: reading a VS_VERSIONINFO record from a module file and walking it.
#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/strings.h"
#include "platform/base/unique_handle.h"
#include "platform/fs/files.h"
#include "platform/res/ResourceTable.h"
#include "platform/res/resources.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr DWORD kMaxRecord = 1u << 20;

uint32_t ReadU32(const BYTE* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

WORD ReadU16(const BYTE* p) {
    return static_cast<WORD>(p[0] | (p[1] << 8));
}

size_t Align4(size_t offset) {
    return (offset + 3) & ~static_cast<size_t>(3);
}

// Reads the whole file; the last error is set on failure.
std::optional<std::vector<BYTE>> ReadWholeFile(LPCWSTR fileName) {
    const platform::OwnedHandle file(CreateFileW(fileName, GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return std::nullopt;
    std::vector<BYTE> bytes;
    std::vector<BYTE> chunk(1 << 16);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr))
            return std::nullopt;
        if (read == 0)
            break;
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + read);
    }
    return bytes;
}

// Finds the version record behind its marker: the marker, the size, the size's complement, and a record whose
// own length field and key agree with that size.
std::optional<std::vector<BYTE>> FindVersionRecord(const std::vector<BYTE>& file) {
    const std::string_view marker(platform::res::kVersionMarker, platform::res::kVersionMarkerLength);
    static const char16_t kKey[] = u"VS_VERSION_INFO";
    auto it = file.begin();
    for (;;) {
        it = std::search(it, file.end(), marker.begin(), marker.end());
        if (it == file.end())
            return std::nullopt;
        const size_t offset = static_cast<size_t>(it - file.begin()) + marker.size();
        ++it;
        if (file.size() - offset < 8)
            continue;
        const uint32_t size = ReadU32(&file[offset]);
        const uint32_t check = ReadU32(&file[offset + 4]);
        if (size != ~check || size < 6 + sizeof(kKey) || size > kMaxRecord || file.size() - offset - 8 < size)
            continue;
        const BYTE* record = &file[offset + 8];
        if (ReadU16(record) != size || std::memcmp(record + 6, kKey, sizeof(kKey)) != 0)
            continue;
        return std::vector<BYTE>(record, record + size);
    }
}

// One node of the version tree: wLength, wValueLength, wType, key, padding, value, padding, children.
struct Node {
    const BYTE* start = nullptr;
    size_t length = 0;
    WORD valueLength = 0;
    WORD type = 0;
    std::u16string key;
    const BYTE* value = nullptr;
    size_t valueBytes = 0;
    size_t childrenOffset = 0;
};

std::optional<Node> ReadNode(const BYTE* start, size_t available) {
    if (available < 6)
        return std::nullopt;
    Node node;
    node.start = start;
    node.length = ReadU16(start);
    node.valueLength = ReadU16(start + 2);
    node.type = ReadU16(start + 4);
    if (node.length < 6 || node.length > available)
        return std::nullopt;
    size_t offset = 6;
    for (;;) {
        if (offset + 2 > node.length)
            return std::nullopt;
        WORD ch = ReadU16(start + offset);
        offset += 2;
        if (ch == 0)
            break;
        node.key += static_cast<char16_t>(ch);
    }
    offset = Align4(offset);
    node.valueBytes = node.type == 1 ? node.valueLength * 2u : node.valueLength;
    if (offset + node.valueBytes > node.length)
        node.valueBytes = offset <= node.length ? node.length - offset : 0;
    node.value = start + std::min(offset, node.length);
    node.childrenOffset = Align4(offset + node.valueBytes);
    return node;
}

std::optional<Node> FindChild(const Node& parent, std::u16string_view key) {
    size_t offset = parent.childrenOffset;
    while (offset + 6 <= parent.length) {
        auto child = ReadNode(parent.start + offset, parent.length - offset);
        if (!child)
            return std::nullopt;
        if (platform::EqualsNoCase(child->key, key))
            return child;
        offset = Align4(offset + child->length);
    }
    return std::nullopt;
}

} // namespace

DWORD GetFileVersionInfoSizeW(LPCWSTR fileName, LPDWORD handle) {
    if (handle)
        *handle = 0;
    auto file = ReadWholeFile(fileName);
    if (!file)
        return 0;
    auto record = FindVersionRecord(*file);
    if (!record) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return 0;
    }
    return static_cast<DWORD>(record->size());
}

BOOL GetFileVersionInfoW(LPCWSTR fileName, DWORD, DWORD length, LPVOID data) {
    if (!data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto file = ReadWholeFile(fileName);
    if (!file)
        return FALSE;
    auto record = FindVersionRecord(*file);
    if (!record) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    std::memcpy(data, record->data(), std::min<size_t>(length, record->size()));
    return TRUE;
}

BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, UINT* length) {
    if (!block || !subBlock || !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const BYTE* start = static_cast<const BYTE*>(block);
    auto node = ReadNode(start, ReadU16(start));
    if (!node) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return FALSE;
    }
    std::u16string_view path(subBlock);
    while (!path.empty()) {
        while (!path.empty() && path.front() == u'\\')
            path.remove_prefix(1);
        if (path.empty())
            break;
        size_t cut = path.find(u'\\');
        std::u16string_view key = path.substr(0, cut);
        path = cut == std::u16string_view::npos ? std::u16string_view() : path.substr(cut);
        node = FindChild(*node, key);
        if (!node) {
            SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
            return FALSE;
        }
    }
    if (node->valueBytes == 0) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    *buffer = const_cast<BYTE*>(node->value);
    // What lies inside the node, in characters for text: a stored length that runs past the node is not passed
    // on, so a caller that reads as far as it is told stays inside the block.
    if (length)
        *length = static_cast<UINT>(node->type == 1 ? node->valueBytes / 2 : node->valueBytes);
    return TRUE;
}
