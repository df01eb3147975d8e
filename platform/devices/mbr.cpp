// The master boot record codec.
#include "platform/devices/mbr.h"

#include <algorithm>
#include <cstring>

namespace platform::devices {
namespace {

constexpr size_t kSignatureOffset = 440;
constexpr size_t kTableOffset = 446;

uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

void Store32(uint8_t* p, uint32_t v) {
    memcpy(p, &v, 4);
}

// CHS address of a sector, saturated at the largest one the fields hold.
void WriteChs(uint8_t* out, uint32_t lba) {
    const uint32_t cylinder = lba / (kHeads * kSectorsPerTrack);
    if (cylinder > 1023) {
        out[0] = 0xFE;
        out[1] = 0xFF;
        out[2] = 0xFF;
        return;
    }
    const uint32_t head = (lba / kSectorsPerTrack) % kHeads;
    const uint32_t sector = lba % kSectorsPerTrack + 1;
    out[0] = static_cast<uint8_t>(head);
    out[1] = static_cast<uint8_t>(sector | ((cylinder >> 2) & 0xC0));
    out[2] = static_cast<uint8_t>(cylinder & 0xFF);
}

template <class T> void Append(std::vector<uint8_t>& out, const T& value) {
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    out.insert(out.end(), p, p + sizeof(T));
}

// The entries a set-layout request asks for, checked against the disk.
struct Wanted {
    uint64_t offset;
    uint64_t length;
    uint8_t type;
    bool boot;
};

std::optional<Mbr> Build(uint32_t signature, const std::vector<Wanted>& wanted, uint64_t diskBytes) {
    Mbr mbr;
    mbr.valid = true;
    mbr.signature = signature;
    int slot = 0;
    for (const Wanted& w : wanted) {
        if (w.type == 0 || w.length == 0)
            continue;
        if (slot == 4)
            return std::nullopt;
        if (w.offset % kSectorSize || w.length % kSectorSize || w.offset < kSectorSize || w.offset > diskBytes ||
            w.length > diskBytes - w.offset || (w.offset + w.length) / kSectorSize > UINT32_MAX)
            return std::nullopt;
        mbr.entries[slot++] = {static_cast<uint8_t>(w.boot ? 0x80 : 0), w.type,
                               static_cast<uint32_t>(w.offset / kSectorSize),
                               static_cast<uint32_t>(w.length / kSectorSize)};
    }
    const auto parts = PartitionsOf(mbr);
    for (size_t i = 0; i < parts.size(); ++i) {
        for (size_t j = i + 1; j < parts.size(); ++j) {
            if (parts[i].offset < parts[j].offset + parts[j].length &&
                parts[j].offset < parts[i].offset + parts[i].length)
                return std::nullopt;
        }
    }
    return mbr;
}

} // namespace

Mbr ParseMbr(const uint8_t* sector) {
    Mbr mbr;
    mbr.valid = sector[510] == 0x55 && sector[511] == 0xAA;
    if (!mbr.valid)
        return mbr;
    mbr.signature = Load32(sector + kSignatureOffset);
    for (int i = 0; i < 4; ++i) {
        const uint8_t* e = sector + kTableOffset + 16 * i;
        mbr.entries[i] = {e[0], e[4], Load32(e + 8), Load32(e + 12)};
    }
    return mbr;
}

void WriteMbr(const Mbr& mbr, uint8_t* sector) {
    Store32(sector + kSignatureOffset, mbr.signature);
    sector[444] = sector[445] = 0;
    for (int i = 0; i < 4; ++i) {
        uint8_t* e = sector + kTableOffset + 16 * i;
        const MbrEntry& entry = mbr.entries[i];
        memset(e, 0, 16);
        if (!entry.Used())
            continue;
        e[0] = entry.boot;
        WriteChs(e + 1, entry.firstSector);
        e[4] = entry.type;
        WriteChs(e + 5, entry.firstSector + entry.sectors - 1);
        Store32(e + 8, entry.firstSector);
        Store32(e + 12, entry.sectors);
    }
    sector[510] = 0x55;
    sector[511] = 0xAA;
}

bool IsRecognizedPartitionType(uint8_t type) {
    switch (type) {
    case 0x01: // FAT12
    case 0x04: // FAT16 below 32 MiB
    case 0x06: // FAT16
    case 0x07: // NTFS, exFAT
    case 0x0B: // FAT32
    case 0x0C: // FAT32 (LBA)
    case 0x0E: // FAT16 (LBA)
        return true;
    default:
        return false;
    }
}

std::vector<Partition> PartitionsOf(const Mbr& mbr) {
    std::vector<Partition> parts;
    if (!mbr.valid)
        return parts;
    for (int i = 0; i < 4; ++i) {
        const MbrEntry& e = mbr.entries[i];
        if (!e.Used())
            continue;
        Partition p;
        p.number = static_cast<uint32_t>(parts.size() + 1);
        p.slot = i;
        p.offset = uint64_t{e.firstSector} * kSectorSize;
        p.length = uint64_t{e.sectors} * kSectorSize;
        p.type = e.type;
        p.boot = e.boot == 0x80;
        parts.push_back(p);
    }
    return parts;
}

std::vector<uint8_t> LayoutRecord(const Mbr& mbr) {
    std::vector<uint8_t> out;
    Append(out, DWORD{4});
    Append(out, DWORD{mbr.signature});
    uint32_t number = 0;
    for (const MbrEntry& e : mbr.entries) {
        PARTITION_INFORMATION info{};
        if (mbr.valid && e.Used()) {
            info.StartingOffset.QuadPart = static_cast<LONGLONG>(uint64_t{e.firstSector} * kSectorSize);
            info.PartitionLength.QuadPart = static_cast<LONGLONG>(uint64_t{e.sectors} * kSectorSize);
            info.HiddenSectors = e.firstSector;
            info.PartitionNumber = ++number;
            info.PartitionType = e.type;
            info.BootIndicator = e.boot == 0x80;
            info.RecognizedPartition = IsRecognizedPartitionType(e.type);
        }
        Append(out, info);
    }
    return out;
}

std::vector<uint8_t> LayoutRecordEx(const Mbr& mbr) {
    std::vector<uint8_t> out(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry), 0);
    auto* header = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(out.data());
    header->PartitionStyle = PARTITION_STYLE_MBR;
    header->PartitionCount = 4;
    header->Mbr.Signature = mbr.signature;
    uint32_t number = 0;
    for (const MbrEntry& e : mbr.entries) {
        PARTITION_INFORMATION_EX info{};
        info.PartitionStyle = PARTITION_STYLE_MBR;
        if (mbr.valid && e.Used()) {
            info.StartingOffset.QuadPart = static_cast<LONGLONG>(uint64_t{e.firstSector} * kSectorSize);
            info.PartitionLength.QuadPart = static_cast<LONGLONG>(uint64_t{e.sectors} * kSectorSize);
            info.PartitionNumber = ++number;
            info.Mbr.PartitionType = e.type;
            info.Mbr.BootIndicator = e.boot == 0x80;
            info.Mbr.RecognizedPartition = IsRecognizedPartitionType(e.type);
            info.Mbr.HiddenSectors = e.firstSector;
        }
        Append(out, info);
    }
    return out;
}

std::optional<Mbr> MbrFromLayout(const uint8_t* record, size_t size, uint64_t diskBytes) {
    constexpr size_t header = offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry);
    if (size < header)
        return std::nullopt;
    DRIVE_LAYOUT_INFORMATION layout;
    memcpy(&layout, record, header);
    if (layout.PartitionCount > (size - header) / sizeof(PARTITION_INFORMATION))
        return std::nullopt;
    std::vector<Wanted> wanted;
    for (DWORD i = 0; i < layout.PartitionCount; ++i) {
        PARTITION_INFORMATION info;
        memcpy(&info, record + header + i * sizeof(info), sizeof(info));
        if (info.StartingOffset.QuadPart < 0 || info.PartitionLength.QuadPart < 0)
            return std::nullopt;
        wanted.push_back({static_cast<uint64_t>(info.StartingOffset.QuadPart),
                          static_cast<uint64_t>(info.PartitionLength.QuadPart), info.PartitionType,
                          info.BootIndicator != 0});
    }
    return Build(layout.Signature, wanted, diskBytes);
}

std::optional<Mbr> MbrFromLayoutEx(const uint8_t* record, size_t size, uint64_t diskBytes) {
    constexpr size_t header = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);
    if (size < header)
        return std::nullopt;
    DRIVE_LAYOUT_INFORMATION_EX layout;
    memcpy(&layout, record, header);
    if (layout.PartitionStyle != PARTITION_STYLE_MBR ||
        layout.PartitionCount > (size - header) / sizeof(PARTITION_INFORMATION_EX))
        return std::nullopt;
    std::vector<Wanted> wanted;
    for (DWORD i = 0; i < layout.PartitionCount; ++i) {
        PARTITION_INFORMATION_EX info;
        memcpy(&info, record + header + i * sizeof(info), sizeof(info));
        if (info.PartitionStyle != PARTITION_STYLE_MBR || info.StartingOffset.QuadPart < 0 ||
            info.PartitionLength.QuadPart < 0)
            return std::nullopt;
        wanted.push_back({static_cast<uint64_t>(info.StartingOffset.QuadPart),
                          static_cast<uint64_t>(info.PartitionLength.QuadPart), info.Mbr.PartitionType,
                          info.Mbr.BootIndicator != 0});
    }
    return Build(layout.Mbr.Signature, wanted, diskBytes);
}

} // namespace platform::devices
