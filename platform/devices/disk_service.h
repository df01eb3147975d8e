// Private: the requests of the disk service inside the kernel host ("disks"), shared by the host's side and the
// client functions. Each request starts with its operation; replies carry a Win32 result first.
#pragma once

#include <cstdint>

namespace platform::devices::service {

constexpr char16_t kName[] = u"disks";

enum class Op : uint32_t {
    Plug = 1,             // image (text), identity texts, removable -> result, number
    Unplug = 2,           // number, surprise -> result
    List = 3,             // -> result, count, disks
    Subscribe = 4,        // the connection then carries notices (notices_host.h)
    Broadcast = 5,        // event, unit mask, flags: a volume notice for every subscriber -> result
    SetMountPoint = 6,    // letter index, volume name "Volume{...}" -> result
    DeleteMountPoint = 7, // letter index -> result
    Format = 8,           // letter index, label, cluster size: a new NTFS on the locked, dismounted volume -> result
};

} // namespace platform::devices::service
