// NTSTATUS values and their Win32 counterparts.
//
// The kernel layer and the drivers it hosts report NTSTATUS values as the kernel does: negative is an error,
// zero and positive are success (with informational and warning codes). User-mode callers see the Win32 code
// that RtlNtStatusToDosError gives, which follows the system's standard conversion for every status defined
// here; a status without a row becomes ERROR_MR_MID_NOT_FOUND, as on Windows.
#pragma once

#include "platform/base/types.h"

using NTSTATUS = LONG;
using PNTSTATUS = NTSTATUS*;

#define NT_SUCCESS(status) (static_cast<NTSTATUS>(status) >= 0)
#define NT_INFORMATION(status) ((static_cast<ULONG>(status) >> 30) == 1)
#define NT_WARNING(status) ((static_cast<ULONG>(status) >> 30) == 2)
#define NT_ERROR(status) ((static_cast<ULONG>(status) >> 30) == 3)

constexpr NTSTATUS MakeNtStatus(uint32_t value) {
    return static_cast<NTSTATUS>(value);
}

constexpr NTSTATUS STATUS_SUCCESS = 0;
constexpr NTSTATUS STATUS_WAIT_0 = 0;
constexpr NTSTATUS STATUS_ALERTED = 0x101;
constexpr NTSTATUS STATUS_TIMEOUT = 0x102;
constexpr NTSTATUS STATUS_PENDING = 0x103;
constexpr NTSTATUS STATUS_MORE_PROCESSING_REQUIRED = MakeNtStatus(0xC0000016);
constexpr NTSTATUS STATUS_OBJECT_NAME_EXISTS = 0x40000000;
constexpr NTSTATUS STATUS_BUFFER_OVERFLOW = MakeNtStatus(0x80000005);
constexpr NTSTATUS STATUS_NO_MORE_ENTRIES = MakeNtStatus(0x8000001A);
constexpr NTSTATUS STATUS_VERIFY_REQUIRED = MakeNtStatus(0x80000016);
constexpr NTSTATUS STATUS_UNSUCCESSFUL = MakeNtStatus(0xC0000001);
constexpr NTSTATUS STATUS_NOT_IMPLEMENTED = MakeNtStatus(0xC0000002);
constexpr NTSTATUS STATUS_INVALID_INFO_CLASS = MakeNtStatus(0xC0000003);
constexpr NTSTATUS STATUS_INFO_LENGTH_MISMATCH = MakeNtStatus(0xC0000004);
constexpr NTSTATUS STATUS_INVALID_HANDLE = MakeNtStatus(0xC0000008);
constexpr NTSTATUS STATUS_INVALID_PARAMETER = MakeNtStatus(0xC000000D);
constexpr NTSTATUS STATUS_NO_SUCH_DEVICE = MakeNtStatus(0xC000000E);
constexpr NTSTATUS STATUS_NO_SUCH_FILE = MakeNtStatus(0xC000000F);
constexpr NTSTATUS STATUS_INVALID_DEVICE_REQUEST = MakeNtStatus(0xC0000010);
constexpr NTSTATUS STATUS_END_OF_FILE = MakeNtStatus(0xC0000011);
constexpr NTSTATUS STATUS_WRONG_VOLUME = MakeNtStatus(0xC0000012);
constexpr NTSTATUS STATUS_NO_MEDIA_IN_DEVICE = MakeNtStatus(0xC0000013);
constexpr NTSTATUS STATUS_NO_MEMORY = MakeNtStatus(0xC0000017);
constexpr NTSTATUS STATUS_ACCESS_DENIED = MakeNtStatus(0xC0000022);
constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = MakeNtStatus(0xC0000023);
constexpr NTSTATUS STATUS_OBJECT_TYPE_MISMATCH = MakeNtStatus(0xC0000024);
constexpr NTSTATUS STATUS_OBJECT_NAME_INVALID = MakeNtStatus(0xC0000033);
constexpr NTSTATUS STATUS_OBJECT_NAME_NOT_FOUND = MakeNtStatus(0xC0000034);
constexpr NTSTATUS STATUS_OBJECT_NAME_COLLISION = MakeNtStatus(0xC0000035);
constexpr NTSTATUS STATUS_OBJECT_PATH_INVALID = MakeNtStatus(0xC0000039);
constexpr NTSTATUS STATUS_OBJECT_PATH_NOT_FOUND = MakeNtStatus(0xC000003A);
constexpr NTSTATUS STATUS_OBJECT_PATH_SYNTAX_BAD = MakeNtStatus(0xC000003B);
constexpr NTSTATUS STATUS_SHARING_VIOLATION = MakeNtStatus(0xC0000043);
constexpr NTSTATUS STATUS_DELETE_PENDING = MakeNtStatus(0xC0000056);
constexpr NTSTATUS STATUS_WRONG_PASSWORD = MakeNtStatus(0xC000006A);
constexpr NTSTATUS STATUS_INSUFFICIENT_RESOURCES = MakeNtStatus(0xC000009A);
constexpr NTSTATUS STATUS_MEDIA_WRITE_PROTECTED = MakeNtStatus(0xC00000A2);
constexpr NTSTATUS STATUS_DEVICE_NOT_READY = MakeNtStatus(0xC00000A3);
constexpr NTSTATUS STATUS_FILE_IS_A_DIRECTORY = MakeNtStatus(0xC00000BA);
constexpr NTSTATUS STATUS_NOT_SUPPORTED = MakeNtStatus(0xC00000BB);
constexpr NTSTATUS STATUS_INVALID_DEVICE_STATE = MakeNtStatus(0xC0000184);
constexpr NTSTATUS STATUS_IO_DEVICE_ERROR = MakeNtStatus(0xC0000185);
constexpr NTSTATUS STATUS_DISK_FULL = MakeNtStatus(0xC000007F);
constexpr NTSTATUS STATUS_FILE_INVALID = MakeNtStatus(0xC0000098);
constexpr NTSTATUS STATUS_DEVICE_DOES_NOT_EXIST = MakeNtStatus(0xC00000C0);
constexpr NTSTATUS STATUS_FILE_CORRUPT_ERROR = MakeNtStatus(0xC0000102);
constexpr NTSTATUS STATUS_NOT_A_DIRECTORY = MakeNtStatus(0xC0000103);
constexpr NTSTATUS STATUS_CANCELLED = MakeNtStatus(0xC0000120);
constexpr NTSTATUS STATUS_INVALID_BUFFER_SIZE = MakeNtStatus(0xC0000206);
constexpr NTSTATUS STATUS_DRIVER_INTERNAL_ERROR = MakeNtStatus(0xC0000183);
constexpr NTSTATUS STATUS_INVALID_IMAGE_FORMAT = MakeNtStatus(0xC000007B);
constexpr NTSTATUS STATUS_DLL_NOT_FOUND = MakeNtStatus(0xC0000135);
constexpr NTSTATUS STATUS_PROCEDURE_NOT_FOUND = MakeNtStatus(0xC000007A);
constexpr NTSTATUS STATUS_IMAGE_ALREADY_LOADED = MakeNtStatus(0xC000010E);
constexpr NTSTATUS STATUS_FILE_CLOSED = MakeNtStatus(0xC0000128);
constexpr NTSTATUS STATUS_NOT_FOUND = MakeNtStatus(0xC0000225);
constexpr NTSTATUS STATUS_CONNECTION_REFUSED = MakeNtStatus(0xC0000236);
constexpr NTSTATUS STATUS_PORT_DISCONNECTED = MakeNtStatus(0xC0000037);
constexpr NTSTATUS STATUS_NOT_LOCKED = MakeNtStatus(0xC000002A);
constexpr NTSTATUS STATUS_UNRECOGNIZED_VOLUME = MakeNtStatus(0xC000014F);
constexpr NTSTATUS STATUS_VOLUME_DISMOUNTED = MakeNtStatus(0xC000026E);

// The Win32 error code of a status (ERROR_SUCCESS for success codes without a Win32 meaning).
ULONG RtlNtStatusToDosError(NTSTATUS status);
