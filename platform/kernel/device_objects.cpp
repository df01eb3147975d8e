// Device objects: creating and deleting a driver's devices.
#include "platform/kernel/io_private.h"

namespace platform::kernel {

std::mutex& DeviceLock() {
    static std::mutex lock;
    return lock;
}

std::shared_ptr<DeviceImpl> DeviceOf(PDEVICE_OBJECT device) {
    return std::dynamic_pointer_cast<DeviceImpl>(LookupObjectAddress(device));
}

bool DeviceGone(const std::shared_ptr<DeviceImpl>& device) {
    std::lock_guard lock(DeviceLock());
    return device->deleted;
}

void SetVolumeMount(PDEVICE_OBJECT deviceObject, const VolumeMount& mount) {
    auto device = DeviceOf(deviceObject);
    if (!device)
        return;
    std::lock_guard lock(Names().lock);
    device->mount = mount;
}

} // namespace platform::kernel

using namespace platform::kernel;

NTSTATUS IoCreateDevice(PDRIVER_OBJECT driverObject, ULONG deviceExtensionSize, PUNICODE_STRING deviceName,
                        DEVICE_TYPE deviceType, ULONG deviceCharacteristics, BOOLEAN exclusive,
                        PDEVICE_OBJECT* deviceObject) {
    if (!driverObject || !deviceObject)
        return STATUS_INVALID_PARAMETER;
    auto driver = std::dynamic_pointer_cast<DriverImpl>(LookupObjectAddress(driverObject));
    if (!driver)
        return STATUS_INVALID_PARAMETER;
    std::shared_ptr<DeviceImpl> device;
    try {
        device = std::make_shared<DeviceImpl>();
        device->extension.assign((deviceExtensionSize + 7) / 8, 0);
    } catch (const std::bad_alloc&) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    DEVICE_OBJECT& object = device->object;
    object.Type = 3;
    object.Size = sizeof(DEVICE_OBJECT);
    object.DriverObject = driverObject;
    object.Flags = DO_DEVICE_INITIALIZING | (exclusive ? DO_EXCLUSIVE : 0);
    object.Characteristics = deviceCharacteristics;
    object.DeviceExtension = deviceExtensionSize ? device->extension.data() : nullptr;
    object.DeviceType = deviceType;
    object.StackSize = 1;
    if (deviceType == FILE_DEVICE_DISK || deviceType == FILE_DEVICE_CD_ROM || deviceType == FILE_DEVICE_VIRTUAL_DISK) {
        device->vpb.Type = 10;
        device->vpb.Size = sizeof(VPB);
        device->vpb.RealDevice = &object;
        object.Vpb = &device->vpb;
    }
    device->driver = driver;
    if (deviceName && deviceName->Length) {
        device->name = ToU16(deviceName);
        std::lock_guard lock(Names().lock);
        NamespaceEntry entry;
        entry.kind = EntryKind::Device;
        entry.device = device;
        const NTSTATUS status = InsertLocked(device->name, std::move(entry), &device->key);
        if (!NT_SUCCESS(status))
            return status;
    }
    RegisterObjectAddress(&object, device);
    {
        std::lock_guard lock(DeviceLock());
        object.NextDevice = driverObject->DeviceObject;
        driverObject->DeviceObject = &object;
    }
    // The driver's reference: it keeps the device alive until IoDeleteDevice.
    ObReferenceObject(&object);
    *deviceObject = &object;
    return STATUS_SUCCESS;
}

void IoDeleteDevice(PDEVICE_OBJECT deviceObject) {
    if (!deviceObject)
        return;
    auto device = DeviceOf(deviceObject);
    if (!device)
        return;
    if (!device->key.empty()) {
        std::lock_guard lock(Names().lock);
        Names().entries.erase(device->key);
        device->key.clear();
    }
    {
        std::lock_guard lock(DeviceLock());
        device->deleted = true;
        PDEVICE_OBJECT* link = &deviceObject->DriverObject->DeviceObject;
        while (*link && *link != deviceObject)
            link = &(*link)->NextDevice;
        if (*link)
            *link = deviceObject->NextDevice;
        deviceObject->NextDevice = nullptr;
    }
    ObDereferenceObject(deviceObject);
}

BOOLEAN IoIsWdmVersionAvailable(UCHAR majorVersion, UCHAR minorVersion) {
    return majorVersion < 1 || (majorVersion == 1 && minorVersion <= 0x30);
}
