// Disks: image files in the machine folder that stand in for the disks plugged into a computer.
//
// A disk is a regular file (never a host block device) with a device identity: the hardware id of the USB bridge
// it hangs on ("USB\VID_xxxx&PID_xxxx"; none for a plain fixed disk), a serial number, vendor, product and
// revision texts, a friendly name and the removable-media flag. Plugging it makes the kernel host serve it as
// "\\.\PhysicalDriveN" (numbers from 1: number 0 is the system's own disk, which this layer does not show) and
// its partitions as "\Device\HarddiskN\PartitionM", gives each partition of a type the system mounts a volume
// name and a drive letter, and raises the arrival notices; unplugging asks the programs that watch the disk
// first (they may refuse), refuses while a handle or a file on it is still open, then takes everything away and
// raises the removal notices. A surprise removal asks nobody. Plugged disks stay plugged across a restart of the
// kernel host; the list lives in the machine folder.
//
// The command-line tool "diskplug" offers the same to users and scripts.
#pragma once

#include "platform/base/types.h"

#include <string>
#include <vector>

namespace platform::devices {

struct DiskIdentity {
    std::u16string hardwareId; // the USB bridge's id, e.g. u"USB\\VID_152D&PID_2338"; empty: a fixed disk
    std::u16string serial;     // empty: derived from the image's path
    std::u16string vendor = u"Generic";
    std::u16string product = u"Disk Image";
    std::u16string revision = u"1.00";
    std::u16string friendlyName; // empty: vendor, product and " USB Device" (or " Disk Device")
    bool removable = false;
};

struct DiskInfo {
    DWORD number = 0;
    std::string image; // host path
    DiskIdentity identity;
    uint64_t size = 0;
    std::u16string instanceId;    // the disk's device instance id
    std::u16string parentId;      // the instance id of the device it hangs on
    std::u16string hardwareId;    // the disk's own first hardware id
    std::u16string interfacePath; // "\\?\..." path of its disk interface, which CreateFileW opens
    std::u16string letters;       // drive letters of its volumes, "EF"
};

// Plugs an image (a host path). Win32 result: ERROR_FILE_NOT_FOUND, ERROR_INVALID_PARAMETER for anything but a
// regular file of at least one sector, ERROR_ALREADY_EXISTS when that image is plugged already.
DWORD PlugDisk(const std::string& image, const DiskIdentity& identity, DWORD& number);
// Unplugs disk `number`. ERROR_FILE_NOT_FOUND for an unknown number; ERROR_DEVICE_IN_USE (2404) when a
// program refused or a handle or a file on the disk is still open (nothing is removed then). A surprise
// removal asks no one and refuses nothing: open handles fail from then on.
DWORD UnplugDisk(DWORD number, bool surprise = false);
std::vector<DiskInfo> ListDisks();

constexpr DWORD ERROR_DEVICE_IN_USE = 2404;

} // namespace platform::devices
