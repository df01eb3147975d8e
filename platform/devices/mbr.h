// Private: the master boot record as it lies on a disk, and its translation to and from the layout records of the
// disk control codes.
//
// A disk here is laid out the classic way: sector 0 holds the boot code area, the 32-bit disk signature at byte
// 440, four 16-byte primary partition entries from byte 446 and the boot mark 0x55 0xAA at byte 510. Addresses
// are sector numbers (LBA) with 512-byte sectors; the CHS fields are filled from the LBA with 255 heads and 63
// sectors per track, as every partitioning tool of the platform writes them. Extended partitions are kept as
// the entries they are; their logical partitions are not followed.
#pragma once

#include "platform/kernel/ioctl.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace platform::devices {

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kHeads = 255;
constexpr uint32_t kSectorsPerTrack = 63;

struct MbrEntry {
    uint8_t boot = 0;
    uint8_t type = 0;
    uint32_t firstSector = 0;
    uint32_t sectors = 0;
    bool Used() const { return type != 0 && sectors != 0; }
};

struct Mbr {
    bool valid = false; // the boot mark is there
    uint32_t signature = 0;
    std::array<MbrEntry, 4> entries{};
};

Mbr ParseMbr(const uint8_t* sector);
// Writes the signature, the entries and the boot mark into `sector`, keeping its boot code area.
void WriteMbr(const Mbr& mbr, uint8_t* sector);

// Partition types the system mounts as volumes of a drive letter (FAT, NTFS/exFAT and their variants).
bool IsRecognizedPartitionType(uint8_t type);

// One partition of a layout, as the disk's partition devices number them (1, 2, ... in table order).
struct Partition {
    uint32_t number = 0;
    int slot = 0; // entry index 0..3
    uint64_t offset = 0;
    uint64_t length = 0;
    uint8_t type = 0;
    bool boot = false;
};
std::vector<Partition> PartitionsOf(const Mbr& mbr);

// The layout records of IOCTL_DISK_GET_DRIVE_LAYOUT(_EX): four entries, one per primary slot.
std::vector<uint8_t> LayoutRecord(const Mbr& mbr);
std::vector<uint8_t> LayoutRecordEx(const Mbr& mbr);
// Reads a layout record sent with IOCTL_DISK_SET_DRIVE_LAYOUT(_EX) into a boot record for a disk of
// `diskBytes`. Nothing when the record is malformed or its partitions are not whole sectors, lie outside the
// disk, overlap or number more than four.
std::optional<Mbr> MbrFromLayout(const uint8_t* record, size_t size, uint64_t diskBytes);
std::optional<Mbr> MbrFromLayoutEx(const uint8_t* record, size_t size, uint64_t diskBytes);

} // namespace platform::devices
