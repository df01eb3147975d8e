#include "platform/kernel/services.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/host.h"
#include "platform/kernel/protocol.h"
#include "platform/kernel/service_store.h"

#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/strings.h"
#include "platform/fs/paths.h"

#include <unistd.h>

namespace platform::kernel {
namespace {

namespace store = service_store;

class ManagerObject : public platform::KernelObject {
public:
    const char* TypeName() const override { return "ServiceManager"; }
    DWORD access = 0;
};

class ServiceObject : public platform::KernelObject {
public:
    const char* TypeName() const override { return "Service"; }
    std::u16string name;
    DWORD access = 0;
};

SC_HANDLE ToSc(HANDLE handle) {
    return reinterpret_cast<SC_HANDLE>(handle);
}
HANDLE FromSc(SC_HANDLE handle) {
    return reinterpret_cast<HANDLE>(handle);
}

NTSTATUS HostRequest(protocol::Op op, const std::u16string& name, const std::string* path, bool startHost) {
    const int fd = ConnectHost(startHost);
    if (fd < 0)
        return STATUS_PORT_DISCONNECTED;
    protocol::Writer request;
    request.U32(static_cast<uint32_t>(op));
    request.Text(name);
    if (path)
        request.Text(platform::Utf8ToUtf16(*path));
    std::vector<uint8_t> reply;
    NTSTATUS status = STATUS_PORT_DISCONNECTED;
    if (protocol::SendMessage(fd, request.Data()) && protocol::ReceiveMessage(fd, reply) && reply.size() >= 4)
        memcpy(&status, reply.data(), 4);
    close(fd);
    return status;
}

bool IsRunning(const std::u16string& name) {
    return HostRunning() && HostRequest(protocol::Op::QueryDriver, name, nullptr, false) == STATUS_SUCCESS;
}

std::shared_ptr<ServiceObject> LookupService(SC_HANDLE handle) {
    auto service = std::dynamic_pointer_cast<ServiceObject>(platform::LookupHandle(FromSc(handle)));
    if (!service)
        SetLastError(ERROR_INVALID_HANDLE);
    return service;
}

std::shared_ptr<ManagerObject> LookupManager(SC_HANDLE handle) {
    auto manager = std::dynamic_pointer_cast<ManagerObject>(platform::LookupHandle(FromSc(handle)));
    if (!manager)
        SetLastError(ERROR_INVALID_HANDLE);
    return manager;
}

// A service marked for deletion goes once it is stopped.
void RemoveIfMarked(const std::u16string& name) {
    if (store::GetDword(name, u"DeleteFlag").value_or(0) && !IsRunning(name))
        store::Remove(name);
}

} // namespace
} // namespace platform::kernel

using namespace platform::kernel;
using platform::Fail;

SC_HANDLE OpenSCManagerW(LPCWSTR machineName, LPCWSTR, DWORD desiredAccess) {
    if (machineName && *machineName)
        return Fail(ERROR_INVALID_PARAMETER), nullptr; // only the local machine's manager exists
    EnableDeviceAccess();
    auto manager = std::make_shared<ManagerObject>();
    manager->access = desiredAccess;
    SetLastError(ERROR_SUCCESS);
    return ToSc(platform::InsertHandle(manager));
}

SC_HANDLE CreateServiceW(SC_HANDLE managerHandle, LPCWSTR serviceName, LPCWSTR displayName, DWORD desiredAccess,
                         DWORD serviceType, DWORD startType, DWORD errorControl, LPCWSTR binaryPathName, LPCWSTR,
                         LPDWORD, LPCWSTR, LPCWSTR, LPCWSTR) {
    auto manager = LookupManager(managerHandle);
    if (!manager)
        return nullptr;
    if (!(manager->access & SC_MANAGER_CREATE_SERVICE))
        return Fail(ERROR_ACCESS_DENIED), nullptr;
    if (!serviceName || !*serviceName || !binaryPathName || !*binaryPathName)
        return Fail(ERROR_INVALID_PARAMETER), nullptr;
    const std::u16string name = serviceName;
    if (name.find_first_of(u"/\\") != std::u16string::npos)
        return Fail(ERROR_INVALID_NAME), nullptr;
    if (startType > SERVICE_DISABLED || errorControl > 3)
        return Fail(ERROR_INVALID_PARAMETER), nullptr;
    if (store::Exists(name))
        return Fail(store::GetDword(name, u"DeleteFlag").value_or(0) ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                                     : ERROR_SERVICE_EXISTS),
               nullptr;
    if (!store::Create(name))
        return Fail(ERROR_ACCESS_DENIED), nullptr;
    const bool stored = store::SetDword(name, u"Type", serviceType) && store::SetDword(name, u"Start", startType) &&
                        store::SetDword(name, u"ErrorControl", errorControl) &&
                        store::SetString(name, u"ImagePath", binaryPathName) &&
                        store::SetString(name, u"DisplayName", displayName ? displayName : serviceName);
    if (!stored) {
        store::Remove(name);
        return Fail(ERROR_ACCESS_DENIED), nullptr;
    }
    auto service = std::make_shared<ServiceObject>();
    service->name = name;
    service->access = desiredAccess;
    SetLastError(ERROR_SUCCESS);
    return ToSc(platform::InsertHandle(service));
}

SC_HANDLE OpenServiceW(SC_HANDLE managerHandle, LPCWSTR serviceName, DWORD desiredAccess) {
    if (!LookupManager(managerHandle))
        return nullptr;
    if (!serviceName || !*serviceName)
        return Fail(ERROR_INVALID_NAME), nullptr;
    if (!store::Exists(serviceName))
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST), nullptr;
    auto service = std::make_shared<ServiceObject>();
    service->name = serviceName;
    service->access = desiredAccess;
    SetLastError(ERROR_SUCCESS);
    return ToSc(platform::InsertHandle(service));
}

BOOL StartServiceW(SC_HANDLE serviceHandle, DWORD, LPCWSTR*) {
    auto service = LookupService(serviceHandle);
    if (!service)
        return FALSE;
    if (!(service->access & SERVICE_START))
        return Fail(ERROR_ACCESS_DENIED), FALSE;
    if (!store::Exists(service->name))
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST), FALSE;
    if (store::GetDword(service->name, u"DeleteFlag").value_or(0))
        return Fail(ERROR_SERVICE_MARKED_FOR_DELETE), FALSE;
    if (store::GetDword(service->name, u"Start").value_or(SERVICE_DISABLED) == SERVICE_DISABLED)
        return Fail(ERROR_SERVICE_DISABLED), FALSE;
    if (store::GetDword(service->name, u"Type").value_or(0) != SERVICE_KERNEL_DRIVER)
        return Fail(ERROR_BAD_FORMAT), FALSE; // only drivers run in this layer
    const auto imagePath = store::GetString(service->name, u"ImagePath");
    if (!imagePath)
        return Fail(ERROR_PATH_NOT_FOUND), FALSE;
    const auto host = platform::fs::ToHost(imagePath->c_str());
    if (!host || host->kind != platform::fs::PathKind::File)
        return Fail(ERROR_PATH_NOT_FOUND), FALSE;
    if (access(host->path.c_str(), R_OK) != 0)
        return Fail(ERROR_FILE_NOT_FOUND), FALSE;
    const NTSTATUS status = HostRequest(protocol::Op::LoadDriver, service->name, &host->path, true);
    if (status == STATUS_PORT_DISCONNECTED)
        return Fail(ERROR_SERVICE_REQUEST_TIMEOUT), FALSE;
    if (status == STATUS_IMAGE_ALREADY_LOADED)
        return Fail(ERROR_SERVICE_ALREADY_RUNNING), FALSE;
    if (!NT_SUCCESS(status))
        return Fail(RtlNtStatusToDosError(status)), FALSE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL QueryServiceStatus(SC_HANDLE serviceHandle, LPSERVICE_STATUS status) {
    auto service = LookupService(serviceHandle);
    if (!service)
        return FALSE;
    if (!status)
        return Fail(ERROR_INVALID_PARAMETER), FALSE;
    if (!store::Exists(service->name))
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST), FALSE;
    const bool running = IsRunning(service->name);
    *status = SERVICE_STATUS{};
    status->dwServiceType = store::GetDword(service->name, u"Type").value_or(SERVICE_KERNEL_DRIVER);
    status->dwCurrentState = running ? SERVICE_RUNNING : SERVICE_STOPPED;
    status->dwControlsAccepted = running ? SERVICE_ACCEPT_STOP : 0;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL ControlService(SC_HANDLE serviceHandle, DWORD control, LPSERVICE_STATUS status) {
    auto service = LookupService(serviceHandle);
    if (!service)
        return FALSE;
    if (control == SERVICE_CONTROL_INTERROGATE)
        return QueryServiceStatus(serviceHandle, status);
    if (control != SERVICE_CONTROL_STOP)
        return Fail(ERROR_INVALID_SERVICE_CONTROL), FALSE;
    if (!(service->access & SERVICE_STOP))
        return Fail(ERROR_ACCESS_DENIED), FALSE;
    if (!store::Exists(service->name))
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST), FALSE;
    if (!IsRunning(service->name))
        return Fail(ERROR_SERVICE_NOT_ACTIVE), FALSE;
    const NTSTATUS unloaded = HostRequest(protocol::Op::UnloadDriver, service->name, nullptr, false);
    if (unloaded == STATUS_INVALID_DEVICE_REQUEST)
        return Fail(ERROR_SERVICE_CANNOT_ACCEPT_CTRL), FALSE;
    if (!NT_SUCCESS(unloaded) && unloaded != STATUS_OBJECT_NAME_NOT_FOUND)
        return Fail(RtlNtStatusToDosError(unloaded)), FALSE;
    if (status) {
        *status = SERVICE_STATUS{};
        status->dwServiceType = SERVICE_KERNEL_DRIVER;
        status->dwCurrentState = SERVICE_STOPPED;
    }
    RemoveIfMarked(service->name);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL DeleteService(SC_HANDLE serviceHandle) {
    auto service = LookupService(serviceHandle);
    if (!service)
        return FALSE;
    if (!(service->access & DELETE))
        return Fail(ERROR_ACCESS_DENIED), FALSE;
    if (!store::Exists(service->name))
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST), FALSE;
    if (store::GetDword(service->name, u"DeleteFlag").value_or(0))
        return Fail(ERROR_SERVICE_MARKED_FOR_DELETE), FALSE;
    if (IsRunning(service->name)) {
        store::SetDword(service->name, u"DeleteFlag", 1);
    } else {
        store::Remove(service->name);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE handle) {
    auto object = platform::LookupHandle(FromSc(handle));
    if (!std::dynamic_pointer_cast<ServiceObject>(object) && !std::dynamic_pointer_cast<ManagerObject>(object))
        return Fail(ERROR_INVALID_HANDLE), FALSE;
    return CloseHandle(FromSc(handle));
}
