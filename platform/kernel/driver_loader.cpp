// Loading and unloading drivers: a driver module's entry point runs with its service's registry path.
#include "platform/kernel/io_private.h"

#include <dlfcn.h>
#include <unistd.h>

namespace platform::kernel {
namespace {

std::mutex g_driverLock;
std::map<std::u16string, std::shared_ptr<DriverImpl>> g_drivers; // folded service name -> driver

} // namespace

DriverImpl::~DriverImpl() {
    UnregisterObjectAddress(&object);
    if (module)
        dlclose(module);
}

namespace {

std::u16string RegistryPathOf(const std::u16string& serviceName) {
    return u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\" + serviceName;
}

NTSTATUS StartDriver(const std::u16string& serviceName, void* module, PDRIVER_INITIALIZE entry) {
    const std::u16string folded = FoldName(serviceName);
    auto driver = std::make_shared<DriverImpl>();
    driver->module = module;
    driver->serviceName = serviceName;
    driver->driverName = u"\\Driver\\" + serviceName;
    driver->registryPath = RegistryPathOf(serviceName);
    DRIVER_OBJECT& object = driver->object;
    object.Type = 4;
    object.Size = sizeof(DRIVER_OBJECT);
    object.DriverInit = entry;
    object.DriverName.Buffer = driver->driverName.data();
    object.DriverName.Length = object.DriverName.MaximumLength =
        static_cast<USHORT>(driver->driverName.size() * sizeof(WCHAR));
    for (auto& dispatch : object.MajorFunction)
        dispatch = DefaultDispatch;
    RegisterObjectAddress(&object, driver);
    {
        std::lock_guard lock(g_driverLock);
        if (g_drivers.count(folded)) {
            driver->module = nullptr; // the module handle belongs to the running driver's reference count
            if (module)
                dlclose(module);
            return STATUS_IMAGE_ALREADY_LOADED;
        }
        g_drivers[folded] = driver;
    }
    UNICODE_STRING registryPath;
    registryPath.Buffer = driver->registryPath.data();
    registryPath.Length = registryPath.MaximumLength = static_cast<USHORT>(driver->registryPath.size() * sizeof(WCHAR));
    NTSTATUS status;
    try {
        status = entry(&object, &registryPath);
    } catch (...) {
        status = STATUS_DRIVER_INTERNAL_ERROR;
    }
    if (!NT_SUCCESS(status)) {
        std::lock_guard lock(g_driverLock);
        g_drivers.erase(folded);
        return status;
    }
    // As the system does, devices made during the entry are ready once it returns.
    std::lock_guard lock(DeviceLock());
    for (PDEVICE_OBJECT device = object.DeviceObject; device; device = device->NextDevice)
        device->Flags &= ~DO_DEVICE_INITIALIZING;
    return status;
}

} // namespace

NTSTATUS LoadDriver(const std::u16string& serviceName, const std::string& hostPath) {
    if (IsDriverLoaded(serviceName))
        return STATUS_IMAGE_ALREADY_LOADED;
    void* module = dlopen(hostPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        DebugLogWrite(std::string("cannot load driver module: ") + dlerror());
        return access(hostPath.c_str(), F_OK) == 0 ? STATUS_INVALID_IMAGE_FORMAT : STATUS_DLL_NOT_FOUND;
    }
    auto entry = reinterpret_cast<PDRIVER_INITIALIZE>(dlsym(module, "DriverEntry"));
    if (!entry) {
        dlclose(module);
        return STATUS_PROCEDURE_NOT_FOUND;
    }
    return StartDriver(serviceName, module, entry);
}

NTSTATUS LoadDriverEntry(const std::u16string& serviceName, PDRIVER_INITIALIZE entry) {
    return StartDriver(serviceName, nullptr, entry);
}

NTSTATUS UnloadDriver(const std::u16string& serviceName) {
    std::shared_ptr<DriverImpl> driver;
    {
        std::lock_guard lock(g_driverLock);
        auto it = g_drivers.find(FoldName(serviceName));
        if (it == g_drivers.end())
            return STATUS_OBJECT_NAME_NOT_FOUND;
        if (!it->second->object.DriverUnload)
            return STATUS_INVALID_DEVICE_REQUEST;
        driver = it->second;
        g_drivers.erase(it);
    }
    try {
        driver->object.DriverUnload(&driver->object);
    } catch (...) {
        DebugLogWrite("driver unload ended by an exception");
    }
    // Devices the driver left behind are deleted now; their memory (and the module) goes with the last handle.
    for (;;) {
        PDEVICE_OBJECT device;
        {
            std::lock_guard lock(DeviceLock());
            device = driver->object.DeviceObject;
        }
        if (!device)
            break;
        IoDeleteDevice(device);
    }
    return STATUS_SUCCESS;
}

bool IsDriverLoaded(const std::u16string& serviceName) {
    std::lock_guard lock(g_driverLock);
    return g_drivers.count(FoldName(serviceName)) != 0;
}

std::vector<std::u16string> LoadedDrivers() {
    std::lock_guard lock(g_driverLock);
    std::vector<std::u16string> names;
    for (const auto& [key, driver] : g_drivers)
        names.push_back(driver->serviceName);
    return names;
}

} // namespace platform::kernel
