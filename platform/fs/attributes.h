// Private: the Windows attribute bits and creation time that a host file system does not keep.
//
// They live in the extended attribute "user.winlayer.attributes" of the file. Where the file system refuses
// extended attributes they live in the machine folder's store instead, one small record per file keyed by
// device and inode and checked against the inode's birth time so that a reused inode does not inherit them.
// A file without a record has the defaults: ARCHIVE for files, nothing for folders.
#pragma once

#include "platform/base/types.h"
#include "platform/fs/hostfs.h"

#include <optional>
#include <string>
#include <string_view>

namespace platform::fs::detail {

// The bits kept in the record.
constexpr DWORD kStoredAttributeMask = 0x1 /*READONLY (folders only)*/ | 0x2 /*HIDDEN*/ | 0x4 /*SYSTEM*/ |
                                       0x20 /*ARCHIVE*/ | 0x100 /*TEMPORARY*/ | 0x1000 /*OFFLINE*/ |
                                       0x2000 /*NOT_CONTENT_INDEXED*/;

struct StoredAttributes {
    DWORD attributes = 0;
    int64_t creation = 0;      // FILETIME ticks, 0 when not stored
    int64_t modifiedStamp = 0; // the file's last-write time (Unix ns) when the record was written
};

// A file is named by an open descriptor (fd >= 0) or by its host path. A reader may also give the open folder
// holding it and its name there (folderFd >= 0), which saves resolving the whole path where the host can read
// extended attributes that way.
struct FileRef {
    int fd = -1;
    const char* path = nullptr;
    int folderFd = -1;
    const char* name = nullptr;
};

std::optional<StoredAttributes> ReadStored(FileRef file, const HostStat& st);
// Writes the record; a read-only file gets its owner write bit for the moment of the write. False with the
// last error set when neither the extended attribute nor the store could take it.
bool WriteStored(FileRef file, const HostStat& st, const StoredAttributes& record);
// Writes the record as the extended attribute of the open file `fd` on device `dev`, in one step. False, with
// nothing written, when that does not work as it stands (the device keeps records in the store, the file is
// read-only, the attribute is refused); WriteStored then finds the way.
bool SetStoredAttribute(int fd, uint64_t dev, const StoredAttributes& record);
// Drops the store's record of a file that is being removed (extended attributes go with the file itself).
void ForgetStored(const HostStat& st);

// The Windows attributes of a file: READONLY from the write bits (from the record for folders), HIDDEN also for
// names beginning with a dot, ARCHIVE again once the file was written after the record cleared it,
// DIRECTORY, REPARSE_POINT for symbolic links, NORMAL when nothing else is set.
DWORD ComputeAttributes(const HostStat& st, std::string_view name, const std::optional<StoredAttributes>& record);
// The creation time (FILETIME ticks): the record's, else the birth time, else the earlier of the change and
// write times.
int64_t CreationTicks(const HostStat& st, const std::optional<StoredAttributes>& record);

// Tests only: reads records by whole path even where the host could read them through the folder.
void ForcePathAttributeReadsForTests(bool force);
// Tests only: uses the machine folder's store even where extended attributes work.
void ForceAttributeStoreForTests(bool force);

} // namespace platform::fs::detail
