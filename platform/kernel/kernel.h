// The kernel as a driver sees it: driver and device objects, IRPs, the object namespace, system threads,
// dispatcher objects, spin locks, pool, kernel file and registry I/O, client security and the debug print.
//
// Drivers are shared objects loaded into the kernel host (a long-lived process of the layer, see host.h); this
// header is what they call, with the kernel's semantics: names in the object namespace are case-insensitive and
// collide with STATUS_OBJECT_NAME_COLLISION, "\DosDevices" and "\??" lead to the global "\GLOBAL??" directory,
// a request completes exactly once through IoCompleteRequest, METHOD_BUFFERED requests are copied in and out by
// the I/O manager, and control codes pass only on handles with the access their code names.
//
// Where it differs: there are no interrupt levels (a spin lock is a real lock that sleeps politely under
// contention, KIRQL values are carried but mean nothing), paged and non-paged pool are the same heap, and a
// thread's priority is recorded but not given to the host scheduler. Kernel file I/O (ZwCreateFile and friends)
// works on files named by NT paths ("\??\C:\dir\file") through the file layer's drive table; client security
// capture records the connecting program's user, and since only programs of the host's own user may connect,
// impersonating it grants exactly the host's rights.
#pragma once

#include "platform/base/types.h"
#include "platform/kernel/ioctl.h"
#include "platform/kernel/ntstatus.h"

#include <cstdarg>
#include <cstddef>
#include <cstring>

// ---- Basic types -------------------------------------------------------------------------------------------

using CCHAR = char;
using CSHORT = int16_t;
using PCHAR = char*;
using PCSTR = const char*;
using PUCHAR = UCHAR*;
using PUSHORT = USHORT*;
using PULONG_PTR = ULONG_PTR*;
using PSIZE_T = SIZE_T*;
using PULONGLONG = ULONGLONG*;
using KIRQL = UCHAR;
using PKIRQL = KIRQL*;
using KPRIORITY = LONG;
using KSPIN_LOCK = ULONG_PTR;
using PKSPIN_LOCK = KSPIN_LOCK*;
using KPROCESSOR_MODE = CCHAR;
using LOGICAL = ULONG;
using PACCESS_MASK = ACCESS_MASK*;

enum MODE { KernelMode = 0, UserMode = 1 };

constexpr KIRQL PASSIVE_LEVEL = 0;
constexpr KIRQL APC_LEVEL = 1;
constexpr KIRQL DISPATCH_LEVEL = 2;

constexpr KPRIORITY LOW_REALTIME_PRIORITY = 16;
constexpr KPRIORITY IO_NO_INCREMENT = 0;
constexpr KPRIORITY IO_DISK_INCREMENT = 1;

struct UNICODE_STRING {
    USHORT Length;        // bytes, without a terminator
    USHORT MaximumLength; // bytes of the buffer
    PWSTR Buffer;
};
using PUNICODE_STRING = UNICODE_STRING*;
using PCUNICODE_STRING = const UNICODE_STRING*;

struct ANSI_STRING {
    USHORT Length;
    USHORT MaximumLength;
    PCHAR Buffer;
};
using PANSI_STRING = ANSI_STRING*;

struct LIST_ENTRY {
    LIST_ENTRY* Flink;
    LIST_ENTRY* Blink;
};
using PLIST_ENTRY = LIST_ENTRY*;

#define CONTAINING_RECORD(address, type, field)                                                                        \
    (reinterpret_cast<type*>(reinterpret_cast<char*>(address) - offsetof(type, field)))

inline void InitializeListHead(PLIST_ENTRY head) {
    head->Flink = head->Blink = head;
}
inline bool IsListEmpty(const LIST_ENTRY* head) {
    return head->Flink == head;
}
inline void InsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry) {
    PLIST_ENTRY last = head->Blink;
    entry->Flink = head;
    entry->Blink = last;
    last->Flink = entry;
    head->Blink = entry;
}
inline void InsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry) {
    PLIST_ENTRY first = head->Flink;
    entry->Flink = first;
    entry->Blink = head;
    first->Blink = entry;
    head->Flink = entry;
}
inline bool RemoveEntryList(PLIST_ENTRY entry) {
    PLIST_ENTRY next = entry->Flink;
    PLIST_ENTRY prev = entry->Blink;
    prev->Flink = next;
    next->Blink = prev;
    return next == prev;
}
inline PLIST_ENTRY RemoveHeadList(PLIST_ENTRY head) {
    PLIST_ENTRY entry = head->Flink;
    RemoveEntryList(entry);
    return entry;
}

struct IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
};
using PIO_STATUS_BLOCK = IO_STATUS_BLOCK*;

constexpr ULONG OBJ_INHERIT = 0x00000002;
constexpr ULONG OBJ_PERMANENT = 0x00000010;
constexpr ULONG OBJ_EXCLUSIVE = 0x00000020;
constexpr ULONG OBJ_CASE_INSENSITIVE = 0x00000040;
constexpr ULONG OBJ_OPENIF = 0x00000080;
constexpr ULONG OBJ_KERNEL_HANDLE = 0x00000200;

struct OBJECT_ATTRIBUTES {
    ULONG Length;
    HANDLE RootDirectory;
    PUNICODE_STRING ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
};
using POBJECT_ATTRIBUTES = OBJECT_ATTRIBUTES*;

inline void InitializeObjectAttributes(POBJECT_ATTRIBUTES attributes, PUNICODE_STRING name, ULONG flags, HANDLE root,
                                       PVOID securityDescriptor) {
    attributes->Length = sizeof(OBJECT_ATTRIBUTES);
    attributes->RootDirectory = root;
    attributes->Attributes = flags;
    attributes->ObjectName = name;
    attributes->SecurityDescriptor = securityDescriptor;
    attributes->SecurityQualityOfService = nullptr;
}

struct CLIENT_ID {
    HANDLE UniqueProcess;
    HANDLE UniqueThread;
};
using PCLIENT_ID = CLIENT_ID*;

// ---- Memory and strings ------------------------------------------------------------------------------------

#define RtlZeroMemory(destination, length) memset((destination), 0, (length))
#define RtlFillMemory(destination, length, fill) memset((destination), (fill), (length))
#define RtlCopyMemory(destination, source, length) memcpy((destination), (source), (length))
#define RtlMoveMemory(destination, source, length) memmove((destination), (source), (length))
#define RtlEqualMemory(a, b, length) (memcmp((a), (b), (length)) == 0)
SIZE_T RtlCompareMemory(const void* source1, const void* source2, SIZE_T length);

void RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source);
void RtlInitAnsiString(PANSI_STRING destination, PCSTR source);
void RtlCopyUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source);
NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source);
NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING destination, PCUNICODE_STRING source);
LONG RtlCompareUnicodeString(PCUNICODE_STRING a, PCUNICODE_STRING b, BOOLEAN caseInsensitive);
BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING a, PCUNICODE_STRING b, BOOLEAN caseInsensitive);
BOOLEAN RtlPrefixUnicodeString(PCUNICODE_STRING prefix, PCUNICODE_STRING string, BOOLEAN caseInsensitive);
// Converts to 8-bit text (the system code page, UTF-8 here); allocates the buffer when `allocate` is set.
NTSTATUS RtlUnicodeStringToAnsiString(PANSI_STRING destination, PCUNICODE_STRING source, BOOLEAN allocate);
void RtlFreeAnsiString(PANSI_STRING string);
void RtlFreeUnicodeString(PUNICODE_STRING string);
// A pseudo-random number below 2^31-1 from the seed, which it updates.
ULONG RtlRandom(PULONG seed);

enum POOL_TYPE {
    NonPagedPool = 0,
    PagedPool = 1,
    NonPagedPoolMustSucceed = 2,
    NonPagedPoolCacheAligned = 4,
    PagedPoolCacheAligned = 5,
    NonPagedPoolNx = 512,
};
PVOID ExAllocatePoolWithTag(POOL_TYPE type, SIZE_T bytes, ULONG tag);
PVOID ExAllocatePool(POOL_TYPE type, SIZE_T bytes);
void ExFreePoolWithTag(PVOID memory, ULONG tag);
void ExFreePool(PVOID memory);

// ---- Debug output ------------------------------------------------------------------------------------------

// Kernel debug output goes to the file "kernel/debug.log" of the machine folder (and to standard error when
// WINLAYER_DEBUG is set). Formats follow the kernel's printf: %s narrow, %ws and %S wide, %I64d, %#x.
constexpr ULONG DPFLTR_IHVDRIVER_ID = 77;
constexpr ULONG DPFLTR_ERROR_LEVEL = 0;
constexpr ULONG DPFLTR_WARNING_LEVEL = 1;
constexpr ULONG DPFLTR_TRACE_LEVEL = 2;
constexpr ULONG DPFLTR_INFO_LEVEL = 3;
ULONG DbgPrint(PCSTR format, ...);
// A level of 32 or more is a mask of level bits; smaller values name one level. Every level passes here.
ULONG DbgPrintEx(ULONG componentId, ULONG level, PCSTR format, ...);
ULONG vDbgPrintEx(ULONG componentId, ULONG level, PCSTR format, va_list arguments);
#define KdPrint(arguments) DbgPrint arguments
#define KdPrintEx(arguments) DbgPrintEx arguments

// ---- Dispatcher objects, waits, threads ----------------------------------------------------------------------

enum EVENT_TYPE { NotificationEvent = 0, SynchronizationEvent = 1 };
enum KWAIT_REASON { Executive = 0, UserRequest = 6 };

struct DISPATCHER_HEADER {
    UCHAR Type; // EVENT_TYPE for events; the layer's own values for threads
    UCHAR Reserved[3];
    LONG SignalState;
};

struct KEVENT {
    DISPATCHER_HEADER Header;
};
using PKEVENT = KEVENT*;
using PRKEVENT = KEVENT*;

void KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state);
// Returns the previous signal state. A synchronization event wakes one waiter and resets.
LONG KeSetEvent(PRKEVENT event, KPRIORITY increment, BOOLEAN wait);
LONG KeResetEvent(PRKEVENT event);
void KeClearEvent(PRKEVENT event);
LONG KeReadStateEvent(PRKEVENT event);

struct KTHREAD; // waitable: signalled when the thread has ended
using PKTHREAD = KTHREAD*;
using PRKTHREAD = KTHREAD*;
using PETHREAD = KTHREAD*;

// Waits on an event or a thread object. The timeout is in 100-ns units: negative is relative, positive an
// absolute system time, zero tests. Returns STATUS_SUCCESS or STATUS_TIMEOUT.
NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON reason, KPROCESSOR_MODE mode, BOOLEAN alertable,
                               PLARGE_INTEGER timeout);
NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE mode, BOOLEAN alertable, PLARGE_INTEGER interval);
// Gives the processor to another ready thread, if there is one.
NTSTATUS ZwYieldExecution();
using KAFFINITY = ULONG_PTR;
using PKAFFINITY = KAFFINITY*;
// How many processors the host's threads may run on; their mask (the first 64) in `activeProcessors` when given.
ULONG KeQueryActiveProcessorCount(PKAFFINITY activeProcessors);

using KSTART_ROUTINE = void(PVOID context);
using PKSTART_ROUTINE = KSTART_ROUTINE*;

// Starts a system thread and returns a kernel handle to it (close it with ZwClose).
NTSTATUS PsCreateSystemThread(PHANDLE threadHandle, ULONG desiredAccess, POBJECT_ATTRIBUTES attributes,
                              HANDLE processHandle, PCLIENT_ID clientId, PKSTART_ROUTINE startRoutine, PVOID context);
// Ends the calling system thread; the thread object becomes signalled.
[[noreturn]] NTSTATUS PsTerminateSystemThread(NTSTATUS exitStatus);
PKTHREAD KeGetCurrentThread();
PETHREAD PsGetCurrentThread();
HANDLE PsGetCurrentThreadId();
KPRIORITY KeSetPriorityThread(PKTHREAD thread, KPRIORITY priority);
KPRIORITY KeQueryPriorityThread(PKTHREAD thread);

struct OBJECT_TYPE;
using POBJECT_TYPE = OBJECT_TYPE*;
extern POBJECT_TYPE* PsThreadType;
extern POBJECT_TYPE* IoFileObjectType;
extern POBJECT_TYPE* IoDeviceObjectType;

// Takes a reference on the object a kernel handle names (threads and file objects).
NTSTATUS ObReferenceObjectByHandle(HANDLE handle, ACCESS_MASK desiredAccess, POBJECT_TYPE objectType,
                                   KPROCESSOR_MODE accessMode, PVOID* object, PVOID handleInformation);
void ObReferenceObject(PVOID object);
void ObDereferenceObject(PVOID object);

void KeInitializeSpinLock(PKSPIN_LOCK lock);
void KeAcquireSpinLock(PKSPIN_LOCK lock, PKIRQL oldIrql);
void KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL newIrql);
PLIST_ENTRY ExInterlockedInsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry, PKSPIN_LOCK lock);
PLIST_ENTRY ExInterlockedInsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry, PKSPIN_LOCK lock);
// Removes and returns the first entry, or null when the list is empty.
PLIST_ENTRY ExInterlockedRemoveHeadList(PLIST_ENTRY head, PKSPIN_LOCK lock);
void KeQuerySystemTime(PLARGE_INTEGER currentTime);
void KeQueryTickCount(PLARGE_INTEGER tickCount);

// ---- Security ----------------------------------------------------------------------------------------------

enum SECURITY_IMPERSONATION_LEVEL {
    SecurityAnonymous = 0,
    SecurityIdentification = 1,
    SecurityImpersonation = 2,
    SecurityDelegation = 3
};
constexpr BOOLEAN SECURITY_DYNAMIC_TRACKING = 1;
constexpr BOOLEAN SECURITY_STATIC_TRACKING = 0;

struct SECURITY_QUALITY_OF_SERVICE {
    ULONG Length;
    SECURITY_IMPERSONATION_LEVEL ImpersonationLevel;
    BOOLEAN ContextTrackingMode;
    BOOLEAN EffectiveOnly;
};
using PSECURITY_QUALITY_OF_SERVICE = SECURITY_QUALITY_OF_SERVICE*;

// The identity of a client: the user, group and process of the program that sent the request.
struct SECURITY_CLIENT_CONTEXT {
    SECURITY_QUALITY_OF_SERVICE SecurityQos;
    BOOLEAN ServerIsRemote;
    BOOLEAN Captured;
    ULONG UserId;
    ULONG GroupId;
    ULONG ProcessId;
};
using PSECURITY_CLIENT_CONTEXT = SECURITY_CLIENT_CONTEXT*;

// Captures the identity of the client whose request the calling thread is serving (the host itself when the
// thread serves no client request).
NTSTATUS SeCreateClientSecurity(PETHREAD clientThread, PSECURITY_QUALITY_OF_SERVICE qos, BOOLEAN remoteSession,
                                PSECURITY_CLIENT_CONTEXT clientContext);
// The thread (null: the current one) acts for the captured client until it ends or reverts.
NTSTATUS SeImpersonateClientEx(PSECURITY_CLIENT_CONTEXT clientContext, PETHREAD serverThread);
void SeImpersonateClient(PSECURITY_CLIENT_CONTEXT clientContext, PETHREAD serverThread);
void PsRevertToSelf();
void SeDeleteClientSecurity(PSECURITY_CLIENT_CONTEXT clientContext);

// ---- I/O manager -------------------------------------------------------------------------------------------

constexpr UCHAR IRP_MJ_CREATE = 0x00;
constexpr UCHAR IRP_MJ_CLOSE = 0x02;
constexpr UCHAR IRP_MJ_READ = 0x03;
constexpr UCHAR IRP_MJ_WRITE = 0x04;
constexpr UCHAR IRP_MJ_QUERY_INFORMATION = 0x05;
constexpr UCHAR IRP_MJ_SET_INFORMATION = 0x06;
constexpr UCHAR IRP_MJ_FLUSH_BUFFERS = 0x09;
constexpr UCHAR IRP_MJ_FILE_SYSTEM_CONTROL = 0x0D;
constexpr UCHAR IRP_MJ_DEVICE_CONTROL = 0x0E;
constexpr UCHAR IRP_MJ_INTERNAL_DEVICE_CONTROL = 0x0F;
constexpr UCHAR IRP_MJ_SHUTDOWN = 0x10;
constexpr UCHAR IRP_MJ_CLEANUP = 0x12;
constexpr UCHAR IRP_MJ_MAXIMUM_FUNCTION = 0x1B;
constexpr UCHAR IRP_MN_USER_FS_REQUEST = 0x00;

constexpr ULONG DO_VERIFY_VOLUME = 0x00000002;
constexpr ULONG DO_BUFFERED_IO = 0x00000004;
constexpr ULONG DO_EXCLUSIVE = 0x00000008;
constexpr ULONG DO_DIRECT_IO = 0x00000010;
constexpr ULONG DO_DEVICE_INITIALIZING = 0x00000080;

constexpr ULONG FILE_BYTE_ALIGNMENT = 0x00000000;
constexpr ULONG FILE_WORD_ALIGNMENT = 0x00000001;
constexpr ULONG FILE_LONG_ALIGNMENT = 0x00000003;
constexpr ULONG FILE_QUAD_ALIGNMENT = 0x00000007;
constexpr ULONG FILE_512_BYTE_ALIGNMENT = 0x000001FF;

constexpr USHORT VPB_MOUNTED = 0x0001;

struct DRIVER_OBJECT;
struct DEVICE_OBJECT;
struct IRP;
struct FILE_OBJECT;
using PDRIVER_OBJECT = DRIVER_OBJECT*;
using PDEVICE_OBJECT = DEVICE_OBJECT*;
using PIRP = IRP*;
using PFILE_OBJECT = FILE_OBJECT*;

using DRIVER_INITIALIZE = NTSTATUS(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);
using PDRIVER_INITIALIZE = DRIVER_INITIALIZE*;
using DRIVER_DISPATCH = NTSTATUS(PDEVICE_OBJECT deviceObject, PIRP irp);
using PDRIVER_DISPATCH = DRIVER_DISPATCH*;
using DRIVER_UNLOAD = void(PDRIVER_OBJECT driverObject);
using PDRIVER_UNLOAD = DRIVER_UNLOAD*;
using IO_COMPLETION_ROUTINE = NTSTATUS(PDEVICE_OBJECT deviceObject, PIRP irp, PVOID context);
using PIO_COMPLETION_ROUTINE = IO_COMPLETION_ROUTINE*;

struct DRIVER_OBJECT {
    CSHORT Type;
    CSHORT Size;
    PDEVICE_OBJECT DeviceObject; // the driver's devices, newest first, linked by NextDevice
    ULONG Flags;
    PVOID DriverStart;
    ULONG DriverSize;
    PVOID DriverSection;
    UNICODE_STRING DriverName;
    PUNICODE_STRING HardwareDatabase;
    PDRIVER_INITIALIZE DriverInit;
    PDRIVER_UNLOAD DriverUnload;
    PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
};

struct VPB {
    CSHORT Type;
    CSHORT Size;
    USHORT Flags;
    USHORT VolumeLabelLength;
    PDEVICE_OBJECT DeviceObject;
    PDEVICE_OBJECT RealDevice;
    ULONG SerialNumber;
    ULONG ReferenceCount;
};
using PVPB = VPB*;

struct DEVICE_OBJECT {
    CSHORT Type;
    USHORT Size;
    LONG ReferenceCount;
    PDRIVER_OBJECT DriverObject;
    PDEVICE_OBJECT NextDevice;
    PDEVICE_OBJECT AttachedDevice;
    PIRP CurrentIrp;
    ULONG Flags;
    ULONG Characteristics;
    PVPB Vpb; // every disk-like device has one; no file system mounts on the layer's devices
    PVOID DeviceExtension;
    DEVICE_TYPE DeviceType;
    CCHAR StackSize;
    ULONG AlignmentRequirement;
};

struct FILE_OBJECT {
    CSHORT Type;
    CSHORT Size;
    PDEVICE_OBJECT DeviceObject;
    PVPB Vpb;
    PVOID FsContext;
    PVOID FsContext2;
    BOOLEAN ReadAccess;
    BOOLEAN WriteAccess;
    BOOLEAN DeleteAccess;
    BOOLEAN SharedRead;
    BOOLEAN SharedWrite;
    BOOLEAN SharedDelete;
    ULONG Flags;
    UNICODE_STRING FileName;
    LARGE_INTEGER CurrentByteOffset;
};

// A memory descriptor. Buffers of the layer are always resident, so the system address is the buffer itself.
struct MDL {
    MDL* Next;
    CSHORT Size;
    CSHORT MdlFlags;
    PVOID MappedSystemVa;
    PVOID StartVa;
    ULONG ByteCount;
    ULONG ByteOffset;
};
using PMDL = MDL*;
enum MM_PAGE_PRIORITY { LowPagePriority = 0, NormalPagePriority = 16, HighPagePriority = 32 };
PVOID MmGetSystemAddressForMdlSafe(PMDL mdl, ULONG priority);
inline PVOID MmGetMdlVirtualAddress(PMDL mdl) {
    return mdl->StartVa;
}
inline ULONG MmGetMdlByteCount(PMDL mdl) {
    return mdl->ByteCount;
}

constexpr UCHAR SL_PENDING_RETURNED = 0x01;
constexpr UCHAR SL_INVOKE_ON_CANCEL = 0x20;
constexpr UCHAR SL_INVOKE_ON_SUCCESS = 0x40;
constexpr UCHAR SL_INVOKE_ON_ERROR = 0x80;

struct IO_STACK_LOCATION {
    UCHAR MajorFunction;
    UCHAR MinorFunction;
    UCHAR Flags;
    UCHAR Control;
    union {
        struct {
            PVOID SecurityContext;
            ULONG Options;
            USHORT FileAttributes;
            USHORT ShareAccess;
            ULONG EaLength;
        } Create;
        struct {
            ULONG Length;
            ULONG Key;
            LARGE_INTEGER ByteOffset;
        } Read;
        struct {
            ULONG Length;
            ULONG Key;
            LARGE_INTEGER ByteOffset;
        } Write;
        struct {
            ULONG OutputBufferLength;
            ULONG InputBufferLength;
            ULONG IoControlCode;
            PVOID Type3InputBuffer;
        } DeviceIoControl;
        struct {
            ULONG OutputBufferLength;
            ULONG InputBufferLength;
            ULONG FsControlCode;
            PVOID Type3InputBuffer;
        } FileSystemControl;
        struct {
            PVOID Argument1;
            PVOID Argument2;
            PVOID Argument3;
            PVOID Argument4;
        } Others;
    } Parameters;
    PDEVICE_OBJECT DeviceObject;
    PFILE_OBJECT FileObject;
    PIO_COMPLETION_ROUTINE CompletionRoutine;
    PVOID Context;
};
using PIO_STACK_LOCATION = IO_STACK_LOCATION*;

struct IRP {
    CSHORT Type;
    USHORT Size;
    PMDL MdlAddress; // direct I/O: the caller's buffer
    ULONG Flags;
    union {
        PIRP MasterIrp;
        LONG IrpCount;
        PVOID SystemBuffer; // buffered I/O: the I/O manager's copy of the caller's buffer
    } AssociatedIrp;
    LIST_ENTRY ThreadListEntry;
    IO_STATUS_BLOCK IoStatus;
    KPROCESSOR_MODE RequestorMode;
    BOOLEAN PendingReturned;
    CHAR StackCount;
    CHAR CurrentLocation;
    BOOLEAN Cancel;
    KIRQL CancelIrql;
    PIO_STATUS_BLOCK UserIosb;
    PKEVENT UserEvent;
    PVOID UserBuffer; // METHOD_NEITHER output and the user's buffer of a threaded request
    union {
        struct {
            PVOID DriverContext[4];
            PETHREAD Thread;
            PCHAR AuxiliaryBuffer;
            LIST_ENTRY ListEntry; // free for the driver that owns the request (its queue)
            PIO_STACK_LOCATION CurrentStackLocation;
            PFILE_OBJECT OriginalFileObject;
        } Overlay;
    } Tail;
};

inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP irp) {
    return irp->Tail.Overlay.CurrentStackLocation;
}
inline PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP irp) {
    return irp->Tail.Overlay.CurrentStackLocation - 1;
}
// Hands the request to the next driver below with this driver's stack location (no completion routine of its own).
inline void IoSkipCurrentIrpStackLocation(PIRP irp) {
    irp->CurrentLocation++;
    irp->Tail.Overlay.CurrentStackLocation++;
}
inline void IoMarkIrpPending(PIRP irp) {
    IoGetCurrentIrpStackLocation(irp)->Control |= SL_PENDING_RETURNED;
}
inline void IoSetCompletionRoutine(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context, BOOLEAN onSuccess,
                                   BOOLEAN onError, BOOLEAN onCancel) {
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->CompletionRoutine = routine;
    next->Context = context;
    next->Control = 0;
    if (onSuccess)
        next->Control |= SL_INVOKE_ON_SUCCESS;
    if (onError)
        next->Control |= SL_INVOKE_ON_ERROR;
    if (onCancel)
        next->Control |= SL_INVOKE_ON_CANCEL;
}

// Creates a device of the driver. `name` (may be null) enters the object namespace; an existing name fails with
// STATUS_OBJECT_NAME_COLLISION and a missing directory with STATUS_OBJECT_PATH_NOT_FOUND. The extension is
// zeroed; the device starts with DO_DEVICE_INITIALIZING, which the driver clears. An exclusive device takes one
// open handle at a time.
NTSTATUS IoCreateDevice(PDRIVER_OBJECT driverObject, ULONG deviceExtensionSize, PUNICODE_STRING deviceName,
                        DEVICE_TYPE deviceType, ULONG deviceCharacteristics, BOOLEAN exclusive,
                        PDEVICE_OBJECT* deviceObject);
// Removes the device's name and unlinks it from its driver. The object itself lives on while handles refer to
// it; requests on those handles fail with STATUS_DELETE_PENDING without reaching the driver.
void IoDeleteDevice(PDEVICE_OBJECT deviceObject);
NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING symbolicLinkName, PUNICODE_STRING deviceName);
NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING symbolicLinkName);
// Driver model versions: the layer reports the newest, 1.0x30.
BOOLEAN IoIsWdmVersionAvailable(UCHAR majorVersion, UCHAR minorVersion);

// Completes a request: completion routines run from the current location upward; then the waiting requester is
// released. A request must be completed exactly once.
void IoCompleteRequest(PIRP irp, CCHAR priorityBoost);
NTSTATUS IoCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp);
PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN chargeQuota);
void IoFreeIrp(PIRP irp);
// A device-control request for a lower device: METHOD_BUFFERED requests copy the input in and the output out at
// completion; the event is set and the status block filled when it completes. The I/O manager frees it.
PIRP IoBuildDeviceIoControlRequest(ULONG ioControlCode, PDEVICE_OBJECT deviceObject, PVOID inputBuffer,
                                   ULONG inputBufferLength, PVOID outputBuffer, ULONG outputBufferLength,
                                   BOOLEAN internalDeviceIoControl, PKEVENT event, PIO_STATUS_BLOCK ioStatusBlock);
// Opens a device by name and returns its file object (referenced) and the device.
NTSTATUS IoGetDeviceObjectPointer(PUNICODE_STRING objectName, ACCESS_MASK desiredAccess, PFILE_OBJECT* fileObject,
                                  PDEVICE_OBJECT* deviceObject);
PDEVICE_OBJECT IoGetRelatedDeviceObject(PFILE_OBJECT fileObject);

// ---- Object directories --------------------------------------------------------------------------------------

constexpr ACCESS_MASK DIRECTORY_QUERY = 0x0001;
constexpr ACCESS_MASK DIRECTORY_TRAVERSE = 0x0002;
constexpr ACCESS_MASK DIRECTORY_CREATE_OBJECT = 0x0004;
constexpr ACCESS_MASK DIRECTORY_CREATE_SUBDIRECTORY = 0x0008;
constexpr ACCESS_MASK DIRECTORY_ALL_ACCESS = STANDARD_RIGHTS_REQUIRED | 0xF;
constexpr ACCESS_MASK THREAD_ALL_ACCESS = STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0xFFFF;

// Creates an object directory. A directory created with OBJ_PERMANENT stays until it is made temporary; a
// temporary one leaves the namespace when its last handle is closed.
NTSTATUS ZwCreateDirectoryObject(PHANDLE directoryHandle, ACCESS_MASK desiredAccess,
                                 POBJECT_ATTRIBUTES objectAttributes);
NTSTATUS ZwMakeTemporaryObject(HANDLE handle);
NTSTATUS ZwClose(HANDLE handle);

// ---- Kernel file I/O ---------------------------------------------------------------------------------------

constexpr ULONG FILE_SUPERSEDE = 0;
constexpr ULONG FILE_OPEN = 1;
constexpr ULONG FILE_CREATE = 2;
constexpr ULONG FILE_OPEN_IF = 3;
constexpr ULONG FILE_OVERWRITE = 4;
constexpr ULONG FILE_OVERWRITE_IF = 5;

constexpr ULONG FILE_DIRECTORY_FILE = 0x00000001;
constexpr ULONG FILE_WRITE_THROUGH = 0x00000002;
constexpr ULONG FILE_SEQUENTIAL_ONLY = 0x00000004;
constexpr ULONG FILE_NO_INTERMEDIATE_BUFFERING = 0x00000008;
constexpr ULONG FILE_SYNCHRONOUS_IO_ALERT = 0x00000010;
constexpr ULONG FILE_SYNCHRONOUS_IO_NONALERT = 0x00000020;
constexpr ULONG FILE_NON_DIRECTORY_FILE = 0x00000040;
constexpr ULONG FILE_RANDOM_ACCESS = 0x00000800;

constexpr ULONG_PTR FILE_SUPERSEDED = 0;
constexpr ULONG_PTR FILE_OPENED = 1;
constexpr ULONG_PTR FILE_CREATED = 2;
constexpr ULONG_PTR FILE_OVERWRITTEN = 3;

enum FILE_INFORMATION_CLASS {
    FileBasicInformation = 4,
    FileStandardInformation = 5,
    FilePositionInformation = 14,
    FileAlignmentInformation = 17,
    FileAllocationInformation = 19,
    FileEndOfFileInformation = 20,
};

struct FILE_BASIC_INFORMATION {
    LARGE_INTEGER CreationTime;
    LARGE_INTEGER LastAccessTime;
    LARGE_INTEGER LastWriteTime;
    LARGE_INTEGER ChangeTime;
    ULONG FileAttributes;
};
struct FILE_STANDARD_INFORMATION {
    LARGE_INTEGER AllocationSize;
    LARGE_INTEGER EndOfFile;
    ULONG NumberOfLinks;
    BOOLEAN DeletePending;
    BOOLEAN Directory;
};
struct FILE_POSITION_INFORMATION {
    LARGE_INTEGER CurrentByteOffset;
};
struct FILE_ALIGNMENT_INFORMATION {
    ULONG AlignmentRequirement;
};
struct FILE_END_OF_FILE_INFORMATION {
    LARGE_INTEGER EndOfFile;
};
struct FILE_ALLOCATION_INFORMATION {
    LARGE_INTEGER AllocationSize;
};

using PIO_APC_ROUTINE = void (*)(PVOID context, PIO_STATUS_BLOCK ioStatus, ULONG reserved);

// Opens or creates a file by NT path: "\??\C:\dir\file" (through the drive table), "\??\UNC\server\share\..."
// and the same under "\DosDevices\" and "\GLOBAL??\". Share access is enforced across processes as for any file
// of the layer. Names of the object namespace that are not files (devices such as disk partitions) fail with
// STATUS_OBJECT_PATH_NOT_FOUND until a layer provides them.
NTSTATUS ZwCreateFile(PHANDLE fileHandle, ACCESS_MASK desiredAccess, POBJECT_ATTRIBUTES objectAttributes,
                      PIO_STATUS_BLOCK ioStatusBlock, PLARGE_INTEGER allocationSize, ULONG fileAttributes,
                      ULONG shareAccess, ULONG createDisposition, ULONG createOptions, PVOID eaBuffer, ULONG eaLength);
// Reads at the offset (or the current position when it is null). Reading at or past the end gives
// STATUS_END_OF_FILE; a read that crosses the end returns the bytes up to it.
NTSTATUS ZwReadFile(HANDLE fileHandle, HANDLE event, PIO_APC_ROUTINE apcRoutine, PVOID apcContext,
                    PIO_STATUS_BLOCK ioStatusBlock, PVOID buffer, ULONG length, PLARGE_INTEGER byteOffset, PULONG key);
NTSTATUS ZwWriteFile(HANDLE fileHandle, HANDLE event, PIO_APC_ROUTINE apcRoutine, PVOID apcContext,
                     PIO_STATUS_BLOCK ioStatusBlock, PVOID buffer, ULONG length, PLARGE_INTEGER byteOffset, PULONG key);
NTSTATUS ZwQueryInformationFile(HANDLE fileHandle, PIO_STATUS_BLOCK ioStatusBlock, PVOID fileInformation, ULONG length,
                                FILE_INFORMATION_CLASS fileInformationClass);
NTSTATUS ZwSetInformationFile(HANDLE fileHandle, PIO_STATUS_BLOCK ioStatusBlock, PVOID fileInformation, ULONG length,
                              FILE_INFORMATION_CLASS fileInformationClass);

// ---- Registry ----------------------------------------------------------------------------------------------

constexpr ACCESS_MASK KEY_QUERY_VALUE = 0x0001;
constexpr ACCESS_MASK KEY_SET_VALUE = 0x0002;
constexpr ACCESS_MASK KEY_WRITE = 0x20006;
constexpr ACCESS_MASK KEY_READ = 0x20019;
constexpr ACCESS_MASK KEY_ALL_ACCESS = 0xF003F;
constexpr ULONG REG_NONE = 0;
constexpr ULONG REG_SZ = 1;
constexpr ULONG REG_EXPAND_SZ = 2;
constexpr ULONG REG_BINARY = 3;
constexpr ULONG REG_DWORD = 4;

// Service keys "\Registry\Machine\System\CurrentControlSet\Services\<name>" of registered services; other keys
// fail with STATUS_OBJECT_NAME_NOT_FOUND.
NTSTATUS ZwOpenKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess, POBJECT_ATTRIBUTES objectAttributes);
NTSTATUS ZwSetValueKey(HANDLE keyHandle, PUNICODE_STRING valueName, ULONG titleIndex, ULONG type, PVOID data,
                       ULONG dataSize);
