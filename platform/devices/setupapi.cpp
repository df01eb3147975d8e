// Device information sets and the device tree over the machine's disks.
#include "platform/devices/setupapi.h"
#include "platform/devices/disks.h"

#include "platform/base/errors.h"
#include "platform/base/handle.h"

#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace platform::devices {
namespace {

constexpr GUID kDiskDriveClass = {0x4D36E967, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

bool SameGuid(const GUID& a, const GUID& b) {
    return memcmp(&a, &b, sizeof(GUID)) == 0;
}

// The device tree as this process has seen it: each instance id gets a node number for the process's life, with
// the node it hangs on.
struct Node {
    std::u16string id;
    DEVINST parent = 0;
};

std::mutex g_treeLock;
std::vector<Node> g_nodes; // node n is g_nodes[n - 1]

DEVINST NodeLocked(const std::u16string& id, DEVINST parent) {
    for (size_t i = 0; i < g_nodes.size(); ++i) {
        if (g_nodes[i].id == id) {
            if (parent)
                g_nodes[i].parent = parent;
            return static_cast<DEVINST>(i + 1);
        }
    }
    g_nodes.push_back({id, parent});
    return static_cast<DEVINST>(g_nodes.size());
}

// The node of a disk, with the chain above it: bridge (or adapter), root hub, root.
DEVINST DiskNode(const DiskInfo& disk) {
    std::lock_guard lock(g_treeLock);
    const DEVINST root = NodeLocked(u"HTREE\\ROOT\\0", 0);
    const bool usb = !disk.identity.hardwareId.empty();
    const DEVINST hub = usb ? NodeLocked(u"USB\\ROOT_HUB20\\4&1", root) : root;
    const DEVINST bridge = NodeLocked(disk.parentId, hub);
    return NodeLocked(disk.instanceId, bridge);
}

class DeviceInfoSet : public platform::KernelObject {
public:
    const char* TypeName() const override { return "DeviceInfoSet"; }
    struct Member {
        DiskInfo disk;
        DEVINST node = 0;
    };
    std::vector<Member> members;
    bool interfaces = false;
    GUID interfaceClass{};
};

std::shared_ptr<DeviceInfoSet> SetOf(HDEVINFO set) {
    return platform::LookupHandleAs<DeviceInfoSet>(static_cast<HANDLE>(set));
}

const DeviceInfoSet::Member* MemberOf(const DeviceInfoSet& set, const SP_DEVINFO_DATA* info) {
    if (!info || info->cbSize != sizeof(SP_DEVINFO_DATA))
        return platform::Fail(ERROR_INVALID_USER_BUFFER), nullptr;
    for (const auto& member : set.members) {
        if (member.node == info->DevInst)
            return &member;
    }
    return platform::Fail(ERROR_INVALID_PARAMETER), nullptr;
}

void FillInfo(const DeviceInfoSet::Member& member, SP_DEVINFO_DATA* info) {
    info->ClassGuid = kDiskDriveClass;
    info->DevInst = member.node;
    info->Reserved = 0;
}

// Copies bytes out as the set functions do: the size needed always, the data when it fits.
BOOL CopyOut(const void* data, DWORD size, PBYTE buffer, DWORD bufferSize, PDWORD requiredSize) {
    if (requiredSize)
        *requiredSize = size;
    if (!buffer || bufferSize < size)
        return platform::Fail(ERROR_INSUFFICIENT_BUFFER), FALSE;
    memcpy(buffer, data, size);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

std::u16string MultiText(std::initializer_list<std::u16string> texts) {
    std::u16string out;
    for (const auto& t : texts) {
        out += t;
        out.push_back(u'\0');
    }
    out.push_back(u'\0');
    return out;
}

} // namespace
} // namespace platform::devices

using namespace platform::devices;

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, LPCWSTR, HWND, DWORD flags) {
    if (!classGuid && !(flags & DIGCF_ALLCLASSES))
        return platform::Fail(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE;
    auto set = std::make_shared<DeviceInfoSet>();
    set->interfaces = (flags & DIGCF_DEVICEINTERFACE) != 0;
    if (classGuid)
        set->interfaceClass = *classGuid;
    const bool disks = !classGuid || (set->interfaces ? SameGuid(*classGuid, GUID_DEVINTERFACE_DISK)
                                                      : SameGuid(*classGuid, kDiskDriveClass));
    if (disks) {
        for (auto& disk : ListDisks()) {
            const DEVINST node = DiskNode(disk);
            set->members.push_back({std::move(disk), node});
        }
    }
    SetLastError(ERROR_SUCCESS);
    return platform::InsertHandle(set);
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    if (!SetOf(set))
        return FALSE;
    return CloseHandle(static_cast<HANDLE>(set));
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO handle, DWORD memberIndex, PSP_DEVINFO_DATA deviceInfo) {
    auto set = SetOf(handle);
    if (!set)
        return FALSE;
    if (!deviceInfo || deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA))
        return platform::Fail(ERROR_INVALID_USER_BUFFER), FALSE;
    if (memberIndex >= set->members.size())
        return platform::Fail(ERROR_NO_MORE_ITEMS), FALSE;
    FillInfo(set->members[memberIndex], deviceInfo);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA deviceInfo, const GUID* interfaceClassGuid,
                                 DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA interfaceData) {
    auto set = SetOf(handle);
    if (!set)
        return FALSE;
    if (!interfaceClassGuid || !interfaceData)
        return platform::Fail(ERROR_INVALID_PARAMETER), FALSE;
    if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return platform::Fail(ERROR_INVALID_USER_BUFFER), FALSE;
    // Disks have one interface each, of the disk class.
    std::vector<const DeviceInfoSet::Member*> candidates;
    if (deviceInfo) {
        const auto* member = MemberOf(*set, deviceInfo);
        if (!member)
            return FALSE;
        candidates.push_back(member);
    } else {
        for (const auto& member : set->members)
            candidates.push_back(&member);
    }
    if (!SameGuid(*interfaceClassGuid, GUID_DEVINTERFACE_DISK) || memberIndex >= candidates.size())
        return platform::Fail(ERROR_NO_MORE_ITEMS), FALSE;
    interfaceData->InterfaceClassGuid = GUID_DEVINTERFACE_DISK;
    interfaceData->Flags = SPINT_ACTIVE;
    interfaceData->Reserved = candidates[memberIndex]->node;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize, PDWORD requiredSize,
                                      PSP_DEVINFO_DATA deviceInfo) {
    auto set = SetOf(handle);
    if (!set)
        return FALSE;
    if (!interfaceData || interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return platform::Fail(ERROR_INVALID_USER_BUFFER), FALSE;
    const DeviceInfoSet::Member* member = nullptr;
    for (const auto& m : set->members) {
        if (m.node == interfaceData->Reserved)
            member = &m;
    }
    if (!member)
        return platform::Fail(ERROR_INVALID_PARAMETER), FALSE;
    if (detail && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
        return platform::Fail(ERROR_INVALID_USER_BUFFER), FALSE;
    if (deviceInfo) {
        if (deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA))
            return platform::Fail(ERROR_INVALID_USER_BUFFER), FALSE;
        FillInfo(*member, deviceInfo);
    }
    const std::u16string& path = member->disk.interfacePath;
    const DWORD needed =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + (path.size() + 1) * sizeof(WCHAR));
    if (requiredSize)
        *requiredSize = needed;
    if (!detail || detailSize < needed)
        return platform::Fail(ERROR_INSUFFICIENT_BUFFER), FALSE;
    memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO handle, PSP_DEVINFO_DATA deviceInfo, DWORD property,
                                       PDWORD propertyRegDataType, PBYTE buffer, DWORD bufferSize,
                                       PDWORD requiredSize) {
    auto set = SetOf(handle);
    if (!set)
        return FALSE;
    const auto* member = MemberOf(*set, deviceInfo);
    if (!member)
        return FALSE;
    const DiskInfo& disk = member->disk;
    std::u16string value;
    DWORD type = 1; // REG_SZ
    switch (property) {
    case SPDRP_DEVICEDESC:
        value = std::u16string(u"Disk drive") + u'\0';
        break;
    case SPDRP_HARDWAREID:
        value = MultiText(
            {disk.hardwareId, disk.identity.hardwareId.empty() ? u"GenDisk" : u"USBSTOR\\GenDisk", u"GenDisk"});
        type = 7; // REG_MULTI_SZ
        break;
    case SPDRP_CLASS:
        value = std::u16string(u"DiskDrive") + u'\0';
        break;
    case SPDRP_MFG:
        value = std::u16string(u"(Standard disk drives)") + u'\0';
        break;
    case SPDRP_FRIENDLYNAME:
        value = disk.identity.friendlyName + u'\0';
        break;
    default:
        return platform::Fail(ERROR_INVALID_DATA), FALSE;
    }
    if (propertyRegDataType)
        *propertyRegDataType = type;
    return CopyOut(value.data(), static_cast<DWORD>(value.size() * sizeof(WCHAR)), buffer, bufferSize, requiredSize);
}

BOOL SetupDiGetDeviceInstanceIdW(HDEVINFO handle, PSP_DEVINFO_DATA deviceInfo, LPWSTR buffer, DWORD bufferSize,
                                 PDWORD requiredSize) {
    auto set = SetOf(handle);
    if (!set)
        return FALSE;
    const auto* member = MemberOf(*set, deviceInfo);
    if (!member)
        return FALSE;
    const std::u16string& id = member->disk.instanceId;
    const DWORD needed = static_cast<DWORD>(id.size() + 1);
    if (requiredSize)
        *requiredSize = needed;
    if (!buffer || bufferSize < needed)
        return platform::Fail(ERROR_INSUFFICIENT_BUFFER), FALSE;
    memcpy(buffer, id.c_str(), needed * sizeof(WCHAR));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

CONFIGRET CM_Get_Parent(PDEVINST parent, DEVINST device, ULONG flags) {
    if (!parent)
        return CR_INVALID_POINTER;
    if (flags)
        return CR_INVALID_FLAG;
    std::lock_guard lock(g_treeLock);
    if (device == 0 || device > g_nodes.size())
        return CR_INVALID_DEVNODE;
    const DEVINST up = g_nodes[device - 1].parent;
    if (!up)
        return CR_NO_SUCH_DEVNODE;
    *parent = up;
    return CR_SUCCESS;
}

CONFIGRET CM_Get_Device_ID_Size(PULONG length, DEVINST device, ULONG flags) {
    if (!length)
        return CR_INVALID_POINTER;
    if (flags)
        return CR_INVALID_FLAG;
    std::lock_guard lock(g_treeLock);
    if (device == 0 || device > g_nodes.size())
        return CR_INVALID_DEVNODE;
    *length = static_cast<ULONG>(g_nodes[device - 1].id.size());
    return CR_SUCCESS;
}

CONFIGRET CM_Get_Device_IDW(DEVINST device, LPWSTR buffer, ULONG length, ULONG flags) {
    if (!buffer)
        return CR_INVALID_POINTER;
    if (flags)
        return CR_INVALID_FLAG;
    std::lock_guard lock(g_treeLock);
    if (device == 0 || device > g_nodes.size())
        return CR_INVALID_DEVNODE;
    const std::u16string& id = g_nodes[device - 1].id;
    if (length < id.size())
        return CR_BUFFER_SMALL;
    memcpy(buffer, id.data(), id.size() * sizeof(WCHAR));
    if (length > id.size())
        buffer[id.size()] = 0;
    return CR_SUCCESS;
}
