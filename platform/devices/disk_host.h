// Private: a file system mounted on a volume of the kernel host's disks. (It includes none of the layer's
// Windows types: the NTFS library that implements it has names of its own that would collide.)
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform::devices {

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

} // namespace platform::devices
