// Private: a file system mounted on a volume of the kernel host's disks. (It includes none of the layer's
// Windows types: the NTFS library that implements it has names of its own that would collide.)
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform::devices {

// Where a volume's bytes are: a stretch of an image file, or a disk device of another driver. Transfers are
// whole: false (errno set) when any of it failed.
class VolumeStore {
public:
    virtual ~VolumeStore() = default;
    virtual uint64_t Length() const = 0;
    virtual bool Read(void* buffer, uint64_t count, uint64_t offset) = 0;
    virtual bool Write(const void* buffer, uint64_t count, uint64_t offset) = 0;
    virtual bool Sync() = 0;
};

// The bytes [offset, offset + length) of the image `fd`, through a descriptor of its own: a volume whose mount
// could not be taken away (a surprise removal with files open) goes on writing to its image, never to whatever
// file the disk's descriptor names later. Null when the descriptor cannot be duplicated.
std::unique_ptr<VolumeStore> ImageStore(int fd, uint64_t offset, uint64_t length);

class MountedFileSystem {
public:
    virtual ~MountedFileSystem() = default;
    // A file or folder of it is open. The kernel tells a file system of a file's last close a little after the
    // program's close returned, so a close that has just happened is waited for (a short, bounded wait).
    virtual bool Busy() = 0;
    // Writes what it holds back to the volume.
    virtual void Flush() = 0;
    // Takes it away. Without `force` it refuses (false) while it is busy.
    virtual bool Unmount(bool force) = 0;
    // The host folder that shows its files, and what the volume says of itself.
    virtual const std::string& Root() const = 0;
    virtual std::string Label() const = 0; // UTF-8
    virtual uint32_t Serial() const = 0;
};

// The file system of other drivers' disks (the secure disks): mounted on first use where the disk holds NTFS
// (ntfs_driver.cpp). Started and stopped with the disk service.
void StartForeignVolumes();
void StopForeignVolumes();
// The disk of another driver behind drive letter `letter` (0..25), for a new file system: only while a handle
// holds it locked with no file system mounted. Null with a Win32 error otherwise (ERROR_FILE_NOT_FOUND: no such
// disk; ERROR_ACCESS_DENIED: not locked).
std::unique_ptr<VolumeStore> OpenLockedForeignVolume(int letter, uint32_t& error);

} // namespace platform::devices
