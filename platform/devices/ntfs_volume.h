// Private: NTFS volumes of the kernel host's disks, mounted at a folder of the machine folder.
#pragma once

#include "platform/devices/disk_host.h"

namespace platform::devices {

// Mounts the NTFS volume on the bytes [offset, offset + length) of the image `fd` (which stays open while the
// volume is mounted) at the host folder `folder`. Null when those bytes hold no NTFS volume or the mount fails.
std::unique_ptr<MountedFileSystem> MountNtfs(int fd, uint64_t offset, uint64_t length, const std::string& folder);

} // namespace platform::devices
