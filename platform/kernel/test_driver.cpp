// A small driver for the kernel layer's tests: one device "\Device\KernelTest" linked as "\DosDevices\KernelTest"
// with a 64 KiB store. Reads and writes are queued to a system thread and completed there (pending requests);
// device controls answer at once. The entry writes "Loaded" into its service key.
#include "platform/kernel/kernel.h"

namespace {

constexpr ULONG kStoreSize = 64 * 1024;
constexpr ULONG IOCTL_TEST_ECHO = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_TEST_COUNT = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_READ_ACCESS);

struct Extension {
    UCHAR store[kStoreSize];
    LIST_ENTRY queue;
    KSPIN_LOCK queueLock;
    KEVENT wake;
    PETHREAD thread;
    BOOLEAN stop;
    ULONG requests;
};

PDEVICE_OBJECT g_device;

void Worker(PVOID context) {
    auto* extension = static_cast<Extension*>(context);
    for (;;) {
        KeWaitForSingleObject(&extension->wake, Executive, KernelMode, FALSE, nullptr);
        while (PLIST_ENTRY entry = ExInterlockedRemoveHeadList(&extension->queue, &extension->queueLock)) {
            PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
            PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
            const LONGLONG offset = stack->Parameters.Read.ByteOffset.QuadPart;
            const ULONG length = stack->Parameters.Read.Length;
            auto* buffer = static_cast<UCHAR*>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
            if (offset < 0 || offset + length > kStoreSize || !buffer) {
                irp->IoStatus.Status = STATUS_INVALID_PARAMETER;
                irp->IoStatus.Information = 0;
            } else {
                if (stack->MajorFunction == IRP_MJ_READ)
                    RtlCopyMemory(buffer, extension->store + offset, length);
                else
                    RtlCopyMemory(extension->store + offset, buffer, length);
                irp->IoStatus.Status = STATUS_SUCCESS;
                irp->IoStatus.Information = length;
            }
            IoCompleteRequest(irp, IO_NO_INCREMENT);
        }
        if (extension->stop)
            PsTerminateSystemThread(STATUS_SUCCESS);
    }
}

NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp) {
    auto* extension = static_cast<Extension*>(device->DeviceExtension);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MajorFunction) {
    case IRP_MJ_READ:
    case IRP_MJ_WRITE:
        if (stack->Parameters.Read.Length == 0)
            break;
        IoMarkIrpPending(irp);
        ExInterlockedInsertTailList(&extension->queue, &irp->Tail.Overlay.ListEntry, &extension->queueLock);
        KeSetEvent(&extension->wake, IO_NO_INCREMENT, FALSE);
        return STATUS_PENDING;
    case IRP_MJ_DEVICE_CONTROL: {
        const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
        const ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
        const ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
        auto* buffer = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
        extension->requests++;
        if (code == IOCTL_TEST_ECHO) {
            if (out < in) {
                irp->IoStatus.Status = STATUS_BUFFER_TOO_SMALL;
                irp->IoStatus.Information = in;
                IoCompleteRequest(irp, IO_NO_INCREMENT);
                return STATUS_BUFFER_TOO_SMALL;
            }
            for (ULONG i = 0; i < in / 2; ++i) {
                const UCHAR t = buffer[i];
                buffer[i] = buffer[in - 1 - i];
                buffer[in - 1 - i] = t;
            }
            // Claims more than it filled: the I/O manager copies out no more than the caller's buffer.
            irp->IoStatus.Information = out + 100;
            irp->IoStatus.Status = STATUS_SUCCESS;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            return STATUS_SUCCESS;
        }
        if (code == IOCTL_TEST_COUNT && out >= sizeof(ULONG)) {
            RtlCopyMemory(buffer, &extension->requests, sizeof(ULONG));
            irp->IoStatus.Information = sizeof(ULONG);
            irp->IoStatus.Status = STATUS_SUCCESS;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            return STATUS_SUCCESS;
        }
        irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
        irp->IoStatus.Information = 0;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    default:
        break;
    }
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

void Unload(PDRIVER_OBJECT) {
    auto* extension = static_cast<Extension*>(g_device->DeviceExtension);
    extension->stop = TRUE;
    KeSetEvent(&extension->wake, IO_NO_INCREMENT, FALSE);
    KeWaitForSingleObject(extension->thread, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(extension->thread);
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, u"\\DosDevices\\KernelTest");
    IoDeleteSymbolicLink(&link);
    IoDeleteDevice(g_device);
    g_device = nullptr;
}

} // namespace

extern "C" __attribute__((visibility("default"))) NTSTATUS DriverEntry(PDRIVER_OBJECT driver,
                                                                       PUNICODE_STRING registryPath) {
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE key;
    if (NT_SUCCESS(ZwOpenKey(&key, KEY_WRITE, &attributes))) {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, u"Loaded");
        WCHAR value[] = u"yes";
        ZwSetValueKey(key, &name, 0, REG_SZ, value, sizeof(value));
        ZwClose(key);
    }
    UNICODE_STRING deviceName;
    RtlInitUnicodeString(&deviceName, u"\\Device\\KernelTest");
    NTSTATUS status = IoCreateDevice(driver, sizeof(Extension), &deviceName, FILE_DEVICE_UNKNOWN, 0, FALSE, &g_device);
    if (!NT_SUCCESS(status))
        return status;
    g_device->Flags |= DO_DIRECT_IO;
    g_device->Flags &= ~DO_DEVICE_INITIALIZING;
    auto* extension = static_cast<Extension*>(g_device->DeviceExtension);
    InitializeListHead(&extension->queue);
    KeInitializeSpinLock(&extension->queueLock);
    KeInitializeEvent(&extension->wake, SynchronizationEvent, FALSE);
    HANDLE thread;
    status = PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, Worker, extension);
    if (NT_SUCCESS(status)) {
        ObReferenceObjectByHandle(thread, THREAD_ALL_ACCESS, nullptr, KernelMode,
                                  reinterpret_cast<PVOID*>(&extension->thread), nullptr);
        ZwClose(thread);
    }
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, u"\\DosDevices\\KernelTest");
    if (NT_SUCCESS(status))
        status = IoCreateSymbolicLink(&link, &deviceName);
    if (!NT_SUCCESS(status)) {
        if (extension->thread) {
            extension->stop = TRUE;
            KeSetEvent(&extension->wake, IO_NO_INCREMENT, FALSE);
            KeWaitForSingleObject(extension->thread, Executive, KernelMode, FALSE, nullptr);
            ObDereferenceObject(extension->thread);
        }
        IoDeleteDevice(g_device);
        return status;
    }
    for (auto& dispatch : driver->MajorFunction)
        dispatch = Dispatch;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}
