// Files: open, read, write, seek, size, flush, attributes, times, delete, move and directories.
//
// Files are host files. Share modes are enforced across processes for files opened through the layer (open
// file description locks), so a second open that the first one's share mode denies fails with
// ERROR_SHARING_VIOLATION as on Windows; a host program that does not go through the layer is not stopped.
// Read-only follows the write bits; hidden, system and archive bits and the creation time are kept in an
// extended attribute where the file system has them and in the machine's own store where it does not; a
// name beginning with a dot also reads hidden. DeleteFileW refuses a read-only file (ERROR_ACCESS_DENIED) and
// RemoveDirectoryW a non-empty folder (ERROR_DIR_NOT_EMPTY). Overlapped handles (FILE_FLAG_OVERLAPPED) complete
// their reads and writes before returning and report through the OVERLAPPED's event.
#pragma once

#include "platform/base/handle.h"
#include "platform/base/types.h"

#include <functional>
#include <string>

// CreateFileW
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_READ_DATA = 0x0001;
constexpr DWORD FILE_LIST_DIRECTORY = 0x0001;
constexpr DWORD FILE_WRITE_DATA = 0x0002;
constexpr DWORD FILE_APPEND_DATA = 0x0004;
constexpr DWORD FILE_READ_ATTRIBUTES = 0x0080;
constexpr DWORD FILE_WRITE_ATTRIBUTES = 0x0100;
constexpr DWORD FILE_GENERIC_READ = 0x120089;
constexpr DWORD FILE_GENERIC_WRITE = 0x120116;
constexpr DWORD FILE_ALL_ACCESS = 0x1F01FF;

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x4;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_DEVICE = 0x40;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x100;
constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
constexpr DWORD FILE_ATTRIBUTE_COMPRESSED = 0x800;
constexpr DWORD FILE_ATTRIBUTE_OFFLINE = 0x1000;
constexpr DWORD FILE_ATTRIBUTE_NOT_CONTENT_INDEXED = 0x2000;
constexpr DWORD FILE_ATTRIBUTE_ENCRYPTED = 0x4000;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000u;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000u;
constexpr DWORD FILE_FLAG_NO_BUFFERING = 0x20000000u;
constexpr DWORD FILE_FLAG_RANDOM_ACCESS = 0x10000000u;
constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000u;
constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000u;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000u;

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);
BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait);
BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPosition, DWORD moveMethod);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD moveMethod);
BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL SetEndOfFile(HANDLE file);
BOOL FlushFileBuffers(HANDLE file);
BOOL GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME lastAccess, LPFILETIME lastWrite);
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess, const FILETIME* lastWrite);
constexpr DWORD FILE_TYPE_UNKNOWN = 0;
constexpr DWORD FILE_TYPE_DISK = 1;
constexpr DWORD FILE_TYPE_CHAR = 2;
constexpr DWORD FILE_TYPE_PIPE = 3;
DWORD GetFileType(HANDLE file);

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info);

DWORD GetFileAttributesW(LPCWSTR fileName);
BOOL SetFileAttributesW(LPCWSTR fileName, DWORD attributes);
enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard = 0 };
struct WIN32_FILE_ATTRIBUTE_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
};
BOOL GetFileAttributesExW(LPCWSTR fileName, GET_FILEEX_INFO_LEVELS level, LPVOID info);

BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES security);
BOOL RemoveDirectoryW(LPCWSTR pathName);
BOOL DeleteFileW(LPCWSTR fileName);
BOOL MoveFileW(LPCWSTR existing, LPCWSTR newName);
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x2;
constexpr DWORD MOVEFILE_DELAY_UNTIL_REBOOT = 0x4;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;
BOOL MoveFileExW(LPCWSTR existing, LPCWSTR newName, DWORD flags);
DWORD GetTempPathW(DWORD size, LPWSTR buffer);
UINT GetTempFileNameW(LPCWSTR pathName, LPCWSTR prefix, UINT unique, LPWSTR tempFileName);

namespace platform::fs {

// Host file descriptor behind a file handle (for layers that need it: directory changes, devices), or -1.
int HostDescriptor(HANDLE file);

// Objects that ReadFile, WriteFile, FlushFileBuffers and GetFileType serve besides files: devices that a later
// layer opens (see RegisterDeviceOpener), pipes. Each operation sets the last error itself when it fails.
class IoObject : public KernelObject {
public:
    virtual BOOL Read(LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) = 0;
    virtual BOOL Write(LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) = 0;
    virtual BOOL Flush();
    virtual DWORD FileType() const { return FILE_TYPE_UNKNOWN; }
    // SetFilePointerEx, GetFileSizeEx and SetEndOfFile on objects that have a position and a size (a disk
    // device); the others fail with ERROR_INVALID_FUNCTION. `moveMethod` is FILE_BEGIN, FILE_CURRENT or FILE_END.
    virtual BOOL Seek(LONGLONG distance, DWORD moveMethod, LONGLONG& newPosition);
    virtual BOOL Size(LONGLONG& size);
    virtual BOOL SetEnd();
};

// Opens "\\.\NAME" for CreateFileW. The opener gets the name after "\\.\" (for example u"C:" or
// u"PhysicalDrive1") and returns a handle, or INVALID_HANDLE_VALUE with the last error set. Without an opener,
// or when it declines with ERROR_FILE_NOT_FOUND, the device does not exist.
struct DeviceOpenRequest {
    std::u16string device;
    DWORD desiredAccess = 0;
    DWORD shareMode = 0;
    DWORD creationDisposition = 0;
    DWORD flagsAndAttributes = 0;
};
using DeviceOpener = std::function<HANDLE(const DeviceOpenRequest& request)>;
// Adds an opener; openers are asked in the order they registered until one does not answer
// ERROR_FILE_NOT_FOUND.
void RegisterDeviceOpener(DeviceOpener opener);

} // namespace platform::fs
