// Private: what the kernel host's disks offer the file-system side of the layer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform::devices {

// A file system mounted on a volume.
class MountedFileSystem {
public:
    virtual ~MountedFileSystem() = default;
    // A file or folder of it is open.
    virtual bool Busy() const = 0;
    // Writes what it holds back to the volume.
    virtual void Flush() = 0;
    // Takes it away. Without `force` it refuses (false) while it is busy.
    virtual bool Unmount(bool force) = 0;
};

// Mounts the file system found on the bytes [offset, offset + length) of the image `fd` (which stays open while
// the volume exists), or returns null when there is none it knows. `volumeName` is "Volume{...}".
using VolumeMounter = std::unique_ptr<MountedFileSystem> (*)(int fd, uint64_t offset, uint64_t length,
                                                             const std::u16string& volumeName);
void SetVolumeMounter(VolumeMounter mounter);

} // namespace platform::devices
