// The kernel layer in-process: the test program plays the host and loads drivers itself.
#include "platform/kernel/iomanager.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"
#include "platform/testing/scratch_drive.h"

#include <gtest/gtest.h>

#include <thread>

using namespace platform::kernel;

namespace {

constexpr ULONG IOCTL_TEST_ECHO = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_TEST_COUNT = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_READ_ACCESS);

UNICODE_STRING Us(const char16_t* text) {
    UNICODE_STRING s;
    RtlInitUnicodeString(&s, text);
    return s;
}

PDRIVER_OBJECT g_driver;

NTSTATUS BareEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    g_driver = driver;
    driver->DriverUnload = [](PDRIVER_OBJECT) {};
    return STATUS_SUCCESS;
}

class KernelTest : public ::testing::Test {
protected:
    platform::machine::ScopedTestMachine machine;
};

} // namespace

TEST_F(KernelTest, DriverDevicesRequestsAndUnload) {
    ASSERT_EQ(LoadDriver(u"KernelTest", KERNEL_TEST_DRIVER), STATUS_SUCCESS);
    EXPECT_EQ(LoadDriver(u"kerneltest", KERNEL_TEST_DRIVER), STATUS_IMAGE_ALREADY_LOADED);
    EXPECT_EQ(LoadDriver(u"Other", "/nonexistent/driver.sys"), STATUS_DLL_NOT_FOUND);

    // The link is found through every spelling of the DOS device directory, case-insensitively.
    for (const char16_t* name : {u"\\??\\kerneltest", u"\\GLOBAL??\\KernelTest", u"\\DosDevices\\KERNELTEST"}) {
        DeviceFilePtr file;
        EXPECT_EQ(OpenDevice(name, GENERIC_READ, 0, file), STATUS_SUCCESS) << platform::Utf16ToUtf8(name);
        CloseDevice(file);
    }

    DeviceFilePtr file;
    ASSERT_EQ(OpenDevice(u"\\??\\KernelTest", GENERIC_READ | GENERIC_WRITE, 0, file), STATUS_SUCCESS);
    ULONG_PTR information = 0;
    EXPECT_EQ(DeviceWrite(file, "hello", 5, 100, information), STATUS_SUCCESS);
    EXPECT_EQ(information, 5u);
    char text[6] = {};
    SetDevicePosition(file, 100);
    EXPECT_EQ(DeviceRead(file, text, 5, std::nullopt, information), STATUS_SUCCESS);
    EXPECT_STREQ(text, "hello");
    EXPECT_EQ(DevicePosition(file), 105);

    // A caller that passes the outcome on hears it from the thread that completes the request, the same as the
    // call then returns; a request refused before it reaches the driver is answered by the call alone.
    struct Heard {
        int count = 0;
        NTSTATUS status = STATUS_PENDING;
        ULONG_PTR information = 0;
        std::thread::id thread;
    } heard;
    const EarlyAnswer early{[](void* context, NTSTATUS status, ULONG_PTR information) {
                                auto* h = static_cast<Heard*>(context);
                                h->count++;
                                h->status = status;
                                h->information = information;
                                h->thread = std::this_thread::get_id();
                            },
                            &heard};
    EXPECT_EQ(DeviceRead(file, text, 5, 100, information, &early), STATUS_SUCCESS);
    EXPECT_EQ(heard.count, 1);
    EXPECT_EQ(heard.status, STATUS_SUCCESS);
    EXPECT_EQ(heard.information, 5u);
    EXPECT_NE(heard.thread, std::this_thread::get_id());
    EXPECT_EQ(DeviceWrite(file, "hello", 5, 64 * 1024 - 4, information, &early), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(heard.count, 2);
    EXPECT_EQ(heard.status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(heard.information, 0u);

    // METHOD_BUFFERED: the input is copied in, and no more than the caller's buffer is copied out.
    char echo[3] = {};
    EXPECT_EQ(DeviceControl(file, IOCTL_TEST_ECHO, "abc", 3, echo, 3, information), STATUS_SUCCESS);
    EXPECT_EQ(std::string(echo, 3), "cba");
    EXPECT_EQ(information, 3u);
    EXPECT_EQ(DeviceControl(file, IOCTL_TEST_ECHO, "abcd", 4, echo, 3, information), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(information, 4u);

    // The access bits of a control code are checked against the handle before the driver sees the request.
    DeviceFilePtr noAccess;
    ASSERT_EQ(OpenDevice(u"\\??\\KernelTest", 0, 0, noAccess), STATUS_SUCCESS);
    ULONG count = 0;
    EXPECT_EQ(DeviceControl(noAccess, IOCTL_TEST_COUNT, nullptr, 0, &count, 4, information), STATUS_ACCESS_DENIED);
    EXPECT_EQ(DeviceRead(noAccess, text, 5, 0, information, &early), STATUS_ACCESS_DENIED);
    EXPECT_EQ(heard.count, 2);
    EXPECT_EQ(DeviceControl(file, IOCTL_TEST_COUNT, nullptr, 0, &count, 4, information), STATUS_SUCCESS);
    EXPECT_EQ(count, 3u); // two echoes and this one; the refused request never arrived
    CloseDevice(noAccess);

    ASSERT_EQ(UnloadDriver(u"KernelTest"), STATUS_SUCCESS);
    EXPECT_FALSE(IsDriverLoaded(u"KernelTest"));
    EXPECT_EQ(DeviceRead(file, text, 5, 0, information), STATUS_DELETE_PENDING);
    CloseDevice(file);
    DeviceFilePtr again;
    EXPECT_EQ(OpenDevice(u"\\??\\KernelTest", GENERIC_READ, 0, again), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(UnloadDriver(u"KernelTest"), STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(KernelTest, NamesDirectoriesAndLinks) {
    ASSERT_EQ(LoadDriverEntry(u"Bare", BareEntry), STATUS_SUCCESS);
    PDEVICE_OBJECT device = nullptr;
    PDEVICE_OBJECT other = nullptr;
    UNICODE_STRING name = Us(u"\\Device\\NameTest");
    ASSERT_EQ(IoCreateDevice(g_driver, 16, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device), STATUS_SUCCESS);
    UNICODE_STRING folded = Us(u"\\DEVICE\\nametest");
    EXPECT_EQ(IoCreateDevice(g_driver, 0, &folded, FILE_DEVICE_UNKNOWN, 0, FALSE, &other),
              STATUS_OBJECT_NAME_COLLISION);
    UNICODE_STRING orphan = Us(u"\\Device\\NoSuchDirectory\\X");
    EXPECT_EQ(IoCreateDevice(g_driver, 0, &orphan, FILE_DEVICE_UNKNOWN, 0, FALSE, &other),
              STATUS_OBJECT_PATH_NOT_FOUND);
    EXPECT_EQ(g_driver->DeviceObject, device);
    EXPECT_TRUE(device->Flags & DO_DEVICE_INITIALIZING);
    // A device still initialising cannot be opened.
    DeviceFilePtr file;
    EXPECT_NE(OpenDevice(u"\\Device\\NameTest", GENERIC_READ, 0, file), STATUS_SUCCESS);
    device->Flags &= ~DO_DEVICE_INITIALIZING;

    UNICODE_STRING link = Us(u"\\DosDevices\\NameLink");
    EXPECT_EQ(IoCreateSymbolicLink(&link, &name), STATUS_SUCCESS);
    EXPECT_EQ(IoCreateSymbolicLink(&link, &name), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(ResolveName(u"\\GLOBAL??\\namelink"), u"\\Device\\NameTest");
    EXPECT_EQ(IoDeleteSymbolicLink(&link), STATUS_SUCCESS);
    EXPECT_EQ(IoDeleteSymbolicLink(&link), STATUS_OBJECT_NAME_NOT_FOUND);

    // A permanent directory made temporary leaves the namespace with its last handle.
    UNICODE_STRING directoryName = Us(u"\\Device\\TestDir");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &directoryName, OBJ_PERMANENT | OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    HANDLE directory;
    ASSERT_EQ(ZwCreateDirectoryObject(&directory, DIRECTORY_ALL_ACCESS, &attributes), STATUS_SUCCESS);
    EXPECT_EQ(ZwCreateDirectoryObject(&directory, DIRECTORY_ALL_ACCESS, &attributes), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(ZwMakeTemporaryObject(directory), STATUS_SUCCESS);
    UNICODE_STRING inside = Us(u"\\Device\\TestDir\\Disk");
    ASSERT_EQ(IoCreateDevice(g_driver, 0, &inside, FILE_DEVICE_DISK, 0, FALSE, &other), STATUS_SUCCESS);
    ASSERT_NE(other->Vpb, nullptr);
    IoDeleteDevice(other);
    EXPECT_EQ(ZwClose(directory), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(directory), STATUS_INVALID_HANDLE);
    EXPECT_EQ(IoCreateDevice(g_driver, 0, &inside, FILE_DEVICE_DISK, 0, FALSE, &other), STATUS_OBJECT_PATH_NOT_FOUND);

    EXPECT_TRUE(IoIsWdmVersionAvailable(1, 0x30));
    EXPECT_TRUE(IoIsWdmVersionAvailable(1, 0x05));
    EXPECT_FALSE(IoIsWdmVersionAvailable(1, 0x31));
    EXPECT_EQ(UnloadDriver(u"Bare"), STATUS_SUCCESS); // deletes the device the driver left behind
    EXPECT_TRUE(ResolveName(u"\\Device\\NameTest").empty());
}

TEST_F(KernelTest, DosDeviceDefinitionsShadowGlobalLinks) {
    UNICODE_STRING global = Us(u"\\GLOBAL??\\Q:");
    UNICODE_STRING globalTarget = Us(u"\\Device\\GlobalTarget");
    ASSERT_EQ(IoCreateSymbolicLink(&global, &globalTarget), STATUS_SUCCESS);
    EXPECT_EQ(DefineDosDevice(0x1, u"Q:", u"\\Device\\First"), STATUS_SUCCESS);
    EXPECT_EQ(DefineDosDevice(0x1, u"q:", u"\\Device\\Second"), STATUS_SUCCESS);
    std::vector<std::u16string> targets;
    ASSERT_EQ(QueryDosDevice(u"Q:", targets), STATUS_SUCCESS);
    EXPECT_EQ(targets,
              (std::vector<std::u16string>{u"\\Device\\Second", u"\\Device\\First", u"\\Device\\GlobalTarget"}));
    // Removing by target takes that definition; without a target the newest goes.
    EXPECT_EQ(DefineDosDevice(0x1 | 0x2 | 0x4, u"Q:", u"\\Device\\First"), STATUS_SUCCESS);
    EXPECT_EQ(DefineDosDevice(0x2, u"Q:", u""), STATUS_SUCCESS);
    EXPECT_EQ(DefineDosDevice(0x2, u"Q:", u""), STATUS_OBJECT_NAME_NOT_FOUND);
    ASSERT_EQ(QueryDosDevice(u"Q:", targets), STATUS_SUCCESS);
    EXPECT_EQ(targets, std::vector<std::u16string>{u"\\Device\\GlobalTarget"});
    // Win32 targets are kept as DOS paths.
    EXPECT_EQ(DefineDosDevice(0, u"R:", u"C:\\Folder"), STATUS_SUCCESS);
    ASSERT_EQ(QueryDosDevice(u"R:", targets), STATUS_SUCCESS);
    EXPECT_EQ(targets, std::vector<std::u16string>{u"\\??\\C:\\Folder"});
    EXPECT_EQ(DefineDosDevice(0x2, u"R:", u""), STATUS_SUCCESS);
    EXPECT_EQ(IoDeleteSymbolicLink(&global), STATUS_SUCCESS);
    EXPECT_EQ(QueryDosDevice(u"Q:", targets), STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(KernelTest, EventsThreadsAndInterlockedLists) {
    KEVENT event;
    KeInitializeEvent(&event, SynchronizationEvent, FALSE);
    LARGE_INTEGER zero{};
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero), STATUS_TIMEOUT);
    LARGE_INTEGER shortWait;
    shortWait.QuadPart = -10 * 1000; // 1 ms
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &shortWait), STATUS_TIMEOUT);
    EXPECT_EQ(KeSetEvent(&event, IO_NO_INCREMENT, FALSE), 0);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
    // A synchronization event resets when a wait takes it; a notification event stays set.
    EXPECT_EQ(KeReadStateEvent(&event), 0);
    KEVENT notification;
    KeInitializeEvent(&notification, NotificationEvent, TRUE);
    EXPECT_EQ(KeWaitForSingleObject(&notification, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
    EXPECT_EQ(KeReadStateEvent(&notification), 1);

    struct Item {
        LIST_ENTRY entry;
        int value;
    };
    struct Shared {
        LIST_ENTRY list;
        KSPIN_LOCK lock;
        KEVENT go;
        int sum = 0;
    } shared;
    InitializeListHead(&shared.list);
    KeInitializeSpinLock(&shared.lock);
    KeInitializeEvent(&shared.go, SynchronizationEvent, FALSE);
    Item items[3] = {{{}, 1}, {{}, 2}, {{}, 3}};
    for (auto& item : items)
        ExInterlockedInsertTailList(&shared.list, &item.entry, &shared.lock);
    HANDLE threadHandle;
    ASSERT_EQ(PsCreateSystemThread(
                  &threadHandle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                  [](PVOID context) {
                      auto* s = static_cast<Shared*>(context);
                      KeWaitForSingleObject(&s->go, Executive, KernelMode, FALSE, nullptr);
                      int position = 1;
                      while (PLIST_ENTRY e = ExInterlockedRemoveHeadList(&s->list, &s->lock))
                          s->sum += CONTAINING_RECORD(e, Item, entry)->value * position++;
                      PsTerminateSystemThread(STATUS_SUCCESS);
                  },
                  &shared),
              STATUS_SUCCESS);
    PVOID thread = nullptr;
    ASSERT_EQ(ObReferenceObjectByHandle(threadHandle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, &thread, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(threadHandle), STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, &zero), STATUS_TIMEOUT);
    KeSetEvent(&shared.go, IO_NO_INCREMENT, FALSE);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    ObDereferenceObject(thread);
    EXPECT_EQ(shared.sum, 1 * 1 + 2 * 2 + 3 * 3); // taken in insertion order
    EXPECT_TRUE(IsListEmpty(&shared.list));
}

TEST_F(KernelTest, KernelFileIoThroughTheDriveTable) {
    const testsupport::ScratchDrive drive(machine, u'T', "images");

    auto open = [](const char16_t* path, ULONG disposition, ULONG share, HANDLE& handle, IO_STATUS_BLOCK& io) {
        UNICODE_STRING name = Us(path);
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
        return ZwCreateFile(&handle, GENERIC_READ | GENERIC_WRITE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                            share, disposition, FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    };
    HANDLE file;
    IO_STATUS_BLOCK io;
    ASSERT_EQ(open(u"\\??\\T:\\image.bin", FILE_SUPERSEDE, 0, file, io), STATUS_SUCCESS);
    EXPECT_EQ(io.Information, FILE_CREATED);
    FILE_END_OF_FILE_INFORMATION end{};
    end.EndOfFile.QuadPart = 4096;
    EXPECT_EQ(ZwSetInformationFile(file, &io, &end, sizeof(end), FileEndOfFileInformation), STATUS_SUCCESS);
    char data[] = "sector data";
    LARGE_INTEGER offset;
    offset.QuadPart = 512;
    EXPECT_EQ(ZwWriteFile(file, nullptr, nullptr, nullptr, &io, data, sizeof(data), &offset, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(io.Information, sizeof(data));
    char back[sizeof(data)] = {};
    EXPECT_EQ(ZwReadFile(file, nullptr, nullptr, nullptr, &io, back, sizeof(back), &offset, nullptr), STATUS_SUCCESS);
    EXPECT_STREQ(back, data);
    offset.QuadPart = 4090;
    char tail[16];
    EXPECT_EQ(ZwReadFile(file, nullptr, nullptr, nullptr, &io, tail, sizeof(tail), &offset, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(io.Information, 6u);
    offset.QuadPart = 4096;
    EXPECT_EQ(ZwReadFile(file, nullptr, nullptr, nullptr, &io, tail, sizeof(tail), &offset, nullptr),
              STATUS_END_OF_FILE);
    FILE_STANDARD_INFORMATION standard{};
    EXPECT_EQ(ZwQueryInformationFile(file, &io, &standard, sizeof(standard), FileStandardInformation), STATUS_SUCCESS);
    EXPECT_EQ(standard.EndOfFile.QuadPart, 4096);
    FILE_ALIGNMENT_INFORMATION alignment{};
    EXPECT_EQ(ZwQueryInformationFile(file, &io, &alignment, 2, FileAlignmentInformation), STATUS_INFO_LENGTH_MISMATCH);

    // An image opened without sharing keeps others out; a missing file or folder gives the namespace's answers.
    HANDLE second;
    EXPECT_EQ(open(u"\\??\\T:\\IMAGE.BIN", FILE_OPEN, FILE_SHARE_READ | FILE_SHARE_WRITE, second, io),
              STATUS_SHARING_VIOLATION);
    EXPECT_EQ(ZwClose(file), STATUS_SUCCESS);
    EXPECT_EQ(open(u"\\??\\T:\\missing.bin", FILE_OPEN, 0, second, io), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(open(u"\\??\\T:\\nofolder\\x.bin", FILE_OPEN, 0, second, io), STATUS_OBJECT_PATH_NOT_FOUND);
    EXPECT_EQ(open(u"\\Device\\Harddisk0\\Partition1", FILE_OPEN, 0, second, io), STATUS_OBJECT_PATH_NOT_FOUND);
}

TEST(NtStatus, Win32Counterparts) {
    const struct {
        NTSTATUS status;
        ULONG error;
    } rows[] = {
        {STATUS_SUCCESS, ERROR_SUCCESS},
        {STATUS_WRONG_PASSWORD, ERROR_INVALID_PASSWORD},
        {STATUS_UNSUCCESSFUL, ERROR_GEN_FAILURE},
        {STATUS_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},
        {STATUS_OBJECT_NAME_COLLISION, ERROR_ALREADY_EXISTS},
        {STATUS_NO_MEDIA_IN_DEVICE, 1112},
        {STATUS_OBJECT_NAME_NOT_FOUND, ERROR_FILE_NOT_FOUND},
        {STATUS_OBJECT_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND},
        {STATUS_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        {STATUS_BUFFER_TOO_SMALL, ERROR_INSUFFICIENT_BUFFER},
        {STATUS_INVALID_DEVICE_REQUEST, ERROR_INVALID_FUNCTION},
        {STATUS_SHARING_VIOLATION, ERROR_SHARING_VIOLATION},
        {STATUS_MEDIA_WRITE_PROTECTED, ERROR_WRITE_PROTECT},
        {STATUS_BUFFER_OVERFLOW, ERROR_MORE_DATA},
        {MakeNtStatus(0xC0FFEE00), ERROR_MR_MID_NOT_FOUND},
    };
    for (const auto& row : rows)
        EXPECT_EQ(RtlNtStatusToDosError(row.status), row.error) << std::hex << row.status;
}

TEST_F(KernelTest, DevicesOpenByNameAsKernelFiles) {
    ASSERT_EQ(LoadDriver(u"KernelTest", KERNEL_TEST_DRIVER), STATUS_SUCCESS);
    auto open = [](ULONG disposition, ACCESS_MASK access, HANDLE& handle, IO_STATUS_BLOCK& io) {
        UNICODE_STRING name = Us(u"\\Device\\KernelTest");
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
        return ZwCreateFile(&handle, access, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, disposition,
                            FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    };
    HANDLE device;
    IO_STATUS_BLOCK io;
    ASSERT_EQ(open(FILE_OPEN, GENERIC_READ | GENERIC_WRITE, device, io), STATUS_SUCCESS);
    EXPECT_EQ(io.Information, FILE_OPENED);
    char data[] = "through the driver";
    LARGE_INTEGER offset;
    offset.QuadPart = 64;
    EXPECT_EQ(ZwWriteFile(device, nullptr, nullptr, nullptr, &io, data, sizeof(data), &offset, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(io.Information, sizeof(data));
    char back[sizeof(data)] = {};
    EXPECT_EQ(ZwReadFile(device, nullptr, nullptr, nullptr, &io, back, sizeof(back), &offset, nullptr), STATUS_SUCCESS);
    EXPECT_STREQ(back, data);
    FILE_POSITION_INFORMATION position{};
    EXPECT_EQ(ZwQueryInformationFile(device, &io, &position, sizeof(position), FilePositionInformation),
              STATUS_SUCCESS);
    EXPECT_EQ(position.CurrentByteOffset.QuadPart, 64 + static_cast<LONGLONG>(sizeof(data)));
    // A device cannot be resized or created, and a handle without write access does not write.
    FILE_END_OF_FILE_INFORMATION end{};
    EXPECT_EQ(ZwSetInformationFile(device, &io, &end, sizeof(end), FileEndOfFileInformation),
              STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(ZwClose(device), STATUS_SUCCESS);
    HANDLE other;
    EXPECT_EQ(open(FILE_CREATE, GENERIC_READ, other, io), STATUS_OBJECT_NAME_COLLISION);
    ASSERT_EQ(open(FILE_OPEN, GENERIC_READ, other, io), STATUS_SUCCESS);
    EXPECT_EQ(ZwWriteFile(other, nullptr, nullptr, nullptr, &io, data, sizeof(data), &offset, nullptr),
              STATUS_ACCESS_DENIED);
    EXPECT_EQ(ZwClose(other), STATUS_SUCCESS);
    ASSERT_EQ(UnloadDriver(u"KernelTest"), STATUS_SUCCESS);
}

namespace {

struct LetterEvent {
    int drive;
    std::u16string target;
    bool created;
    bool operator==(const LetterEvent&) const = default;
};
std::vector<LetterEvent> g_letterEvents;

} // namespace

TEST_F(KernelTest, DeviceReferencesCloseWithTheLastAndDriveLetterLinksAreTold) {
    ASSERT_EQ(LoadDriver(u"KernelTest", KERNEL_TEST_DRIVER), STATUS_SUCCESS);
    UNICODE_STRING name = Us(u"\\Device\\KernelTest");
    PFILE_OBJECT file = nullptr;
    PDEVICE_OBJECT device = nullptr;
    ASSERT_EQ(IoGetDeviceObjectPointer(&name, FILE_READ_ATTRIBUTES, &file, &device), STATUS_SUCCESS);
    const LONG opened = device->ReferenceCount;
    // A second reference keeps the file open; the last one closes it, so the device is not held for ever.
    ObReferenceObject(file);
    ObDereferenceObject(file);
    EXPECT_EQ(device->ReferenceCount, opened);
    ObDereferenceObject(file);
    EXPECT_EQ(device->ReferenceCount, opened - 1);

    // Global drive-letter links are told to the observer as they come and go; other links are not.
    g_letterEvents.clear();
    SetDriveLetterObserver([](int drive, const std::u16string& target, bool created) {
        g_letterEvents.push_back({drive, target, created});
    });
    UNICODE_STRING letter = Us(u"\\DosDevices\\q:");
    UNICODE_STRING other = Us(u"\\DosDevices\\QQ");
    EXPECT_EQ(IoCreateSymbolicLink(&letter, &name), STATUS_SUCCESS);
    EXPECT_EQ(IoCreateSymbolicLink(&other, &name), STATUS_SUCCESS);
    EXPECT_EQ(IoDeleteSymbolicLink(&other), STATUS_SUCCESS);
    EXPECT_EQ(IoDeleteSymbolicLink(&letter), STATUS_SUCCESS);
    SetDriveLetterObserver(nullptr);
    const std::vector<LetterEvent> expected = {{16, u"\\Device\\KernelTest", true},
                                               {16, u"\\Device\\KernelTest", false}};
    EXPECT_EQ(g_letterEvents, expected);
    ASSERT_EQ(UnloadDriver(u"KernelTest"), STATUS_SUCCESS);
}

namespace {

// A file system's volume device in the test: it notes what reaches it and completes it.
struct VolumeNote {
    UCHAR major;
    UCHAR minor;
    ULONG code;
    bool operator==(const VolumeNote&) const = default;
};
std::vector<VolumeNote> g_volumeNotes;
PDEVICE_OBJECT g_volumeDevice;

NTSTATUS VolumeEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    for (auto& routine : driver->MajorFunction) {
        routine = [](PDEVICE_OBJECT, PIRP irp) {
            PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
            ULONG code = 0;
            if (stack->MajorFunction == IRP_MJ_FILE_SYSTEM_CONTROL)
                code = stack->Parameters.FileSystemControl.FsControlCode;
            else if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL)
                code = stack->Parameters.DeviceIoControl.IoControlCode;
            g_volumeNotes.push_back({stack->MajorFunction, stack->MinorFunction, code});
            irp->IoStatus.Status = STATUS_SUCCESS;
            irp->IoStatus.Information = 0;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            return STATUS_SUCCESS;
        };
    }
    driver->DriverUnload = [](PDRIVER_OBJECT) { IoDeleteDevice(g_volumeDevice); };
    return IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_DISK_FILE_SYSTEM, 0, FALSE, &g_volumeDevice);
}

} // namespace

TEST_F(KernelTest, AMountedFileSystemTakesTheHandlesOpenedOnItsDisk) {
    ASSERT_EQ(LoadDriver(u"KernelTest", KERNEL_TEST_DRIVER), STATUS_SUCCESS);
    ASSERT_EQ(LoadDriverEntry(u"TestVolume", VolumeEntry), STATUS_SUCCESS);
    UNICODE_STRING name = Us(u"\\Device\\KernelTest");
    PFILE_OBJECT diskFile = nullptr;
    PDEVICE_OBJECT disk = nullptr;
    ASSERT_EQ(IoGetDeviceObjectPointer(&name, FILE_READ_ATTRIBUTES, &diskFile, &disk), STATUS_SUCCESS);
    DeviceFilePtr before;
    ASSERT_EQ(OpenDevice(u"\\??\\KernelTest", GENERIC_READ, 0, before), STATUS_SUCCESS);

    g_volumeNotes.clear();
    ASSERT_EQ(MountVolume(disk, g_volumeDevice), STATUS_SUCCESS);
    EXPECT_EQ(MountVolume(disk, g_volumeDevice), STATUS_OBJECT_NAME_COLLISION);
    DeviceFilePtr after;
    ASSERT_EQ(OpenDevice(u"\\??\\KernelTest", GENERIC_READ, 0, after), STATUS_SUCCESS);
    EXPECT_EQ(IoGetRelatedDeviceObject(FileObjectOf(after)), g_volumeDevice);
    EXPECT_EQ(IoGetRelatedDeviceObject(FileObjectOf(before)), disk);
    ULONG_PTR information = 0;
    ULONG count = 0;
    // A file-system control code arrives as a file-system request, any other as a device control.
    EXPECT_EQ(DeviceControl(after, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, information), STATUS_SUCCESS);
    EXPECT_EQ(DeviceControl(after, IOCTL_TEST_COUNT, nullptr, 0, &count, 4, information), STATUS_SUCCESS);
    // The handle opened before the mount still talks to the disk.
    EXPECT_EQ(DeviceControl(before, IOCTL_TEST_COUNT, nullptr, 0, &count, 4, information), STATUS_SUCCESS);
    EXPECT_EQ(information, sizeof(ULONG));
    CloseDevice(after);
    const std::vector<VolumeNote> expected = {{IRP_MJ_CREATE, 0, 0},
                                              {IRP_MJ_FILE_SYSTEM_CONTROL, IRP_MN_USER_FS_REQUEST, FSCTL_LOCK_VOLUME},
                                              {IRP_MJ_DEVICE_CONTROL, 0, IOCTL_TEST_COUNT},
                                              {IRP_MJ_CLEANUP, 0, 0},
                                              {IRP_MJ_CLOSE, 0, 0}};
    EXPECT_EQ(g_volumeNotes, expected);

    // Dismounted, new handles reach the disk again.
    DismountVolume(disk);
    DeviceFilePtr again;
    ASSERT_EQ(OpenDevice(u"\\??\\KernelTest", GENERIC_READ, 0, again), STATUS_SUCCESS);
    EXPECT_EQ(IoGetRelatedDeviceObject(FileObjectOf(again)), disk);
    EXPECT_EQ(g_volumeNotes.size(), expected.size());
    CloseDevice(again);
    CloseDevice(before);
    ObDereferenceObject(diskFile);
    ASSERT_EQ(UnloadDriver(u"TestVolume"), STATUS_SUCCESS);
    ASSERT_EQ(UnloadDriver(u"KernelTest"), STATUS_SUCCESS);
}
