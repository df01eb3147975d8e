// Device enumeration (SetupDi*) and the device tree (CM_*), over the disks of the machine (disks.h).
//
// A device information set made with DIGCF_DEVICEINTERFACE for the disk interface class holds the disks present
// when it was made, in the order of their numbers; each has one interface whose path CreateFileW opens. The disks'
// device nodes hang on the node of their USB bridge (or of a SCSI adapter), which hangs on a root hub and that on
// the root of the tree. Other classes give empty sets. Sizes, buffers and errors follow the system:
// ERROR_INSUFFICIENT_BUFFER with the size needed, ERROR_NO_MORE_ITEMS past the last member, ERROR_INVALID_DATA
// for a property the device does not have, ERROR_INVALID_USER_BUFFER for a record whose cbSize is wrong.
#pragma once

#include "platform/base/types.h"

using HDEVINFO = PVOID;
using DEVINST = DWORD;
using PDEVINST = DEVINST*;
using CONFIGRET = DWORD;

constexpr GUID GUID_DEVINTERFACE_DISK = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
constexpr GUID GUID_DEVINTERFACE_VOLUME = {
    0x53F5630D, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

constexpr DWORD DIGCF_DEFAULT = 0x01;
constexpr DWORD DIGCF_PRESENT = 0x02;
constexpr DWORD DIGCF_ALLCLASSES = 0x04;
constexpr DWORD DIGCF_PROFILE = 0x08;
constexpr DWORD DIGCF_DEVICEINTERFACE = 0x10;

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};
using PSP_DEVINFO_DATA = SP_DEVINFO_DATA*;

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};
using PSP_DEVICE_INTERFACE_DATA = SP_DEVICE_INTERFACE_DATA*;

struct SP_DEVICE_INTERFACE_DETAIL_DATA_W {
    DWORD cbSize;
    WCHAR DevicePath[1];
};
using PSP_DEVICE_INTERFACE_DETAIL_DATA_W = SP_DEVICE_INTERFACE_DETAIL_DATA_W*;

constexpr DWORD SPINT_ACTIVE = 0x1;

constexpr DWORD SPDRP_DEVICEDESC = 0x00;
constexpr DWORD SPDRP_HARDWAREID = 0x01;
constexpr DWORD SPDRP_COMPATIBLEIDS = 0x02;
constexpr DWORD SPDRP_CLASS = 0x07;
constexpr DWORD SPDRP_MFG = 0x0B;
constexpr DWORD SPDRP_FRIENDLYNAME = 0x0C;
constexpr DWORD SPDRP_PHYSICAL_DEVICE_OBJECT_NAME = 0x0E;
constexpr DWORD SPDRP_REMOVAL_POLICY = 0x1F;

constexpr DWORD ERROR_INVALID_USER_BUFFER = 1784;

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, LPCWSTR enumerator, HWND parent, DWORD flags);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);
BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD memberIndex, PSP_DEVINFO_DATA deviceInfo);
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo, const GUID* interfaceClassGuid,
                                 DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA interfaceData);
BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize, PDWORD requiredSize,
                                      PSP_DEVINFO_DATA deviceInfo);
BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo, DWORD property,
                                       PDWORD propertyRegDataType, PBYTE buffer, DWORD bufferSize, PDWORD requiredSize);
BOOL SetupDiGetDeviceInstanceIdW(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo, LPWSTR buffer, DWORD bufferSize,
                                 PDWORD requiredSize);

constexpr CONFIGRET CR_SUCCESS = 0x00;
constexpr CONFIGRET CR_INVALID_POINTER = 0x03;
constexpr CONFIGRET CR_INVALID_FLAG = 0x04;
constexpr CONFIGRET CR_INVALID_DEVNODE = 0x05;
constexpr CONFIGRET CR_NO_SUCH_DEVNODE = 0x0D;
constexpr CONFIGRET CR_BUFFER_SMALL = 0x1A;

CONFIGRET CM_Get_Parent(PDEVINST parent, DEVINST device, ULONG flags);
// The length in characters, without the terminator.
CONFIGRET CM_Get_Device_ID_Size(PULONG length, DEVINST device, ULONG flags);
CONFIGRET CM_Get_Device_IDW(DEVINST device, LPWSTR buffer, ULONG length, ULONG flags);
