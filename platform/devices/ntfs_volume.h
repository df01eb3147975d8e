// Private: NTFS volumes of the kernel host's disks, mounted at a folder of the machine folder.
#pragma once

#include "platform/devices/disk_host.h"

namespace platform::devices {

// Mounts the NTFS volume in `store` (which it keeps while the volume is mounted) at the host folder `folder`.
// Null when the store holds no NTFS volume or the mount fails.
std::unique_ptr<MountedFileSystem> MountNtfs(std::unique_ptr<VolumeStore> store, const std::string& folder);

} // namespace platform::devices
