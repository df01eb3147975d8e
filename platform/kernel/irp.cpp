// IRPs: their storage, passing them down to a driver and completing them back up.
#include "platform/kernel/io_private.h"
#include "platform/kernel/iomanager.h"

#include <algorithm>

namespace platform::kernel {
namespace {

IrpBlock* BlockOf(PIRP irp) {
    return reinterpret_cast<IrpBlock*>(irp);
}

} // namespace

NTSTATUS DefaultDispatch(PDEVICE_OBJECT, PIRP irp) {
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

IrpBlock* AllocateBlock(CCHAR stackSize) {
    if (stackSize < 1 || stackSize > kMaximumStackSize)
        return nullptr;
    auto* block = new (std::nothrow) IrpBlock();
    if (!block)
        return nullptr;
    memset(block->stack, 0, sizeof(block->stack));
    IRP& irp = block->irp;
    irp.StackCount = stackSize;
    irp.CurrentLocation = static_cast<CHAR>(stackSize + 1);
    irp.Tail.Overlay.CurrentStackLocation = block->stack + stackSize; // one past the last: IoCallDriver moves down
    InitializeListHead(&irp.ThreadListEntry);
    KeInitializeEvent(&block->done, NotificationEvent, FALSE);
    return block;
}

void FreeBlock(IrpBlock* block) {
    delete block;
}

// Sends a request to the device and waits for its completion; returns the final status.
NTSTATUS CallAndWait(const std::shared_ptr<DeviceImpl>& device, IrpBlock* block) {
    const NTSTATUS returned = IoCallDriver(&device->object, &block->irp);
    if (returned == STATUS_PENDING)
        KeWaitForSingleObject(&block->done, Executive, KernelMode, FALSE, nullptr);
    if (KeReadStateEvent(&block->done) == 0) {
        DebugLogWrite("driver returned without completing its request");
        return returned;
    }
    return block->irp.IoStatus.Status;
}

} // namespace platform::kernel

using namespace platform::kernel;

PVOID MmGetSystemAddressForMdlSafe(PMDL mdl, ULONG) {
    return mdl ? mdl->MappedSystemVa : nullptr;
}

PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN) {
    IrpBlock* block = AllocateBlock(stackSize);
    return block ? &block->irp : nullptr;
}

void IoFreeIrp(PIRP irp) {
    if (irp)
        FreeBlock(BlockOf(irp));
}

NTSTATUS IoCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp) {
    irp->CurrentLocation--;
    irp->Tail.Overlay.CurrentStackLocation--;
    PIO_STACK_LOCATION stack = irp->Tail.Overlay.CurrentStackLocation;
    stack->DeviceObject = deviceObject;
    PDRIVER_DISPATCH dispatch = deviceObject->DriverObject->MajorFunction[stack->MajorFunction];
    if (!dispatch)
        dispatch = DefaultDispatch;
    return dispatch(deviceObject, irp);
}

void IoCompleteRequest(PIRP irp, CCHAR) {
    IrpBlock* block = BlockOf(irp);
    // Completion routines run from the current location upward, each seeing its own location as current.
    IO_STACK_LOCATION* const end = block->stack + irp->StackCount;
    for (IO_STACK_LOCATION* stack = irp->Tail.Overlay.CurrentStackLocation; stack < end; ++stack) {
        irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) != 0;
        irp->CurrentLocation++;
        irp->Tail.Overlay.CurrentStackLocation++;
        const bool success = NT_SUCCESS(irp->IoStatus.Status);
        if (stack->CompletionRoutine && ((success && (stack->Control & SL_INVOKE_ON_SUCCESS)) ||
                                         (!success && (stack->Control & SL_INVOKE_ON_ERROR)) ||
                                         (irp->Cancel && (stack->Control & SL_INVOKE_ON_CANCEL)))) {
            PDEVICE_OBJECT device = stack + 1 < end ? (stack + 1)->DeviceObject : nullptr;
            if (stack->CompletionRoutine(device, irp, stack->Context) == STATUS_MORE_PROCESSING_REQUIRED)
                return;
        }
    }
    if (block->threaded) {
        if (block->method == METHOD_BUFFERED && NT_SUCCESS(irp->IoStatus.Status) && block->userOutput) {
            const size_t count = std::min<size_t>(irp->IoStatus.Information, block->userOutputLength);
            memcpy(block->userOutput, block->systemBuffer.data(), count);
        }
        if (irp->UserIosb)
            *irp->UserIosb = irp->IoStatus;
        PKEVENT event = irp->UserEvent;
        FreeBlock(block);
        if (event)
            KeSetEvent(event, IO_NO_INCREMENT, FALSE);
        return;
    }
    if (block->early)
        block->early->answer(block->early->context, irp->IoStatus.Status,
                             std::min<ULONG_PTR>(irp->IoStatus.Information, block->earlyLength));
    KeSetEvent(&block->done, IO_NO_INCREMENT, FALSE);
}

PIRP IoBuildDeviceIoControlRequest(ULONG ioControlCode, PDEVICE_OBJECT deviceObject, PVOID inputBuffer,
                                   ULONG inputBufferLength, PVOID outputBuffer, ULONG outputBufferLength,
                                   BOOLEAN internalDeviceIoControl, PKEVENT event, PIO_STATUS_BLOCK ioStatusBlock) {
    IrpBlock* block = AllocateBlock(deviceObject->StackSize);
    if (!block)
        return nullptr;
    block->threaded = true;
    block->method = METHOD_FROM_CTL_CODE(ioControlCode);
    IRP& irp = block->irp;
    irp.RequestorMode = KernelMode;
    irp.UserEvent = event;
    irp.UserIosb = ioStatusBlock;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(&irp);
    next->MajorFunction = internalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = ioControlCode;
    next->Parameters.DeviceIoControl.InputBufferLength = inputBufferLength;
    next->Parameters.DeviceIoControl.OutputBufferLength = outputBufferLength;
    if (block->method == METHOD_BUFFERED) {
        block->systemBuffer.assign(std::max(inputBufferLength, outputBufferLength), 0);
        if (inputBuffer && inputBufferLength)
            memcpy(block->systemBuffer.data(), inputBuffer, inputBufferLength);
        irp.AssociatedIrp.SystemBuffer = block->systemBuffer.empty() ? nullptr : block->systemBuffer.data();
        block->userOutput = outputBuffer;
        block->userOutputLength = outputBufferLength;
    } else {
        irp.AssociatedIrp.SystemBuffer = inputBuffer;
        next->Parameters.DeviceIoControl.Type3InputBuffer = inputBuffer;
        irp.UserBuffer = outputBuffer;
        if (outputBuffer && block->method != METHOD_NEITHER) {
            block->mdl.MappedSystemVa = block->mdl.StartVa = outputBuffer;
            block->mdl.ByteCount = outputBufferLength;
            irp.MdlAddress = &block->mdl;
        }
    }
    return &irp;
}

PDEVICE_OBJECT IoGetRelatedDeviceObject(PFILE_OBJECT fileObject) {
    if (!fileObject)
        return nullptr;
    if (auto file = std::dynamic_pointer_cast<DeviceFile>(LookupObjectAddress(fileObject)))
        return &file->target->object;
    return fileObject->DeviceObject;
}
