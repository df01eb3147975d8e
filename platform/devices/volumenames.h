// Volume names and mount points: GetVolumeNameForVolumeMountPointW, SetVolumeMountPointW,
// DeleteVolumeMountPointW.
//
// Every partition of a plugged disk that the system mounts has a volume name, "\\?\Volume{...}\", that stays with
// the partition (its disk's signature and its place) across unplugging. Mount points are drive roots ("E:\");
// mounting a volume in a folder is not offered (ERROR_INVALID_PARAMETER). A drive letter that a program defined
// for itself with DefineDosDeviceW leads to its volume as well.
#pragma once

#include "platform/base/types.h"

BOOL GetVolumeNameForVolumeMountPointW(LPCWSTR mountPoint, LPWSTR volumeName, DWORD size);
BOOL SetVolumeMountPointW(LPCWSTR mountPoint, LPCWSTR volumeName);
BOOL DeleteVolumeMountPointW(LPCWSTR mountPoint);
