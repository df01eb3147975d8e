// The kernel host's file system for the disks of other drivers (a virtual disk driver's secure disks): a disk that
// holds NTFS gets it mounted on first use, as the system mounts a volume when it is first opened or looked at.
//
// The volume device stands in front of the disk: handles opened on the disk or its letter from then on reach it.
// It answers the volume controls (a lock only while no file of the file system and no other handle with read or
// write access is open, the dismount, the unlock), passes reads and device controls to the disk, and refuses raw
// writes while the file system is mounted unless the writing handle holds the lock. The file system itself runs
// on libntfs-3g (ntfs_volume.cpp), which reads and writes the disk device directly through requests of its own.
#include "platform/devices/disk_host.h"
#include "platform/devices/ntfs_volume.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/kernel/iomanager.h"
#include "platform/kernel/ioctl.h"
#include "platform/kernel/kernel.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/stat.h>

namespace platform::devices {
namespace {

using platform::kernel::DeviceFilePtr;

// Requests to the disk are cut into pieces of this size at most.
constexpr uint64_t kMaxTransfer = 4u << 20;
constexpr uint64_t kSector = 512;

// A disk device of another driver, through a handle of the file system's own (opened before the mount, so it
// reaches the disk itself). The disk takes whole sectors in requests that each cost a hand-off to the driver's
// worker, so the file system's small reads and writes (records, indexes, bitmaps: the same few blocks again and
// again) go through a cache of 4 KiB blocks that keeps what was written until it is flushed: when the file system
// syncs (a lock, a dismount, fsync), when the cache is full, and a second after the first unwritten change at the
// latest. Large transfers go to the disk directly.
class DeviceStore : public VolumeStore {
public:
    DeviceStore(DeviceFilePtr file, uint64_t length) : m_file(std::move(file)), m_length(length) {
        m_flusher = std::thread([this] { FlushLater(); });
    }
    ~DeviceStore() override {
        {
            std::lock_guard lock(m_lock);
            m_stopping = true;
        }
        m_wake.notify_all();
        m_flusher.join();
        std::lock_guard lock(m_lock);
        FlushLocked();
        platform::kernel::CloseDevice(m_file);
    }
    DeviceStore(const DeviceStore&) = delete;
    DeviceStore& operator=(const DeviceStore&) = delete;

    uint64_t Length() const override { return m_length; }

    bool Read(void* buffer, uint64_t count, uint64_t offset) override {
        std::lock_guard lock(m_lock);
        auto* out = static_cast<uint8_t*>(buffer);
        if (count >= kDirect && offset % kSector == 0 && count % kSector == 0) {
            if (!Transfer(out, count, offset, false))
                return false;
            // What the cache holds is newer than the disk.
            for (auto it = m_blocks.lower_bound(offset / kBlock);
                 it != m_blocks.end() && it->first * kBlock < offset + count; ++it)
                Overlay(it->first, it->second, out, count, offset);
            return true;
        }
        for (uint64_t at = offset; at < offset + count;) {
            const uint64_t index = at / kBlock;
            Block* block = Fetch(index, true);
            if (!block)
                return false;
            const uint64_t within = at - index * kBlock;
            const uint64_t piece = std::min(kBlock - within, offset + count - at);
            memcpy(out + (at - offset), block->data.data() + within, piece);
            at += piece;
        }
        return Trim();
    }

    bool Write(const void* buffer, uint64_t count, uint64_t offset) override {
        std::lock_guard lock(m_lock);
        const auto* in = static_cast<const uint8_t*>(buffer);
        if (count >= kDirect && offset % kBlock == 0 && count % kBlock == 0) {
            // Whole blocks: straight to the disk, and the cache forgets what they held.
            for (uint64_t index = offset / kBlock; index < (offset + count) / kBlock; ++index)
                Drop(index);
            return Transfer(const_cast<uint8_t*>(in), count, offset, true);
        }
        for (uint64_t at = offset; at < offset + count;) {
            const uint64_t index = at / kBlock;
            const uint64_t within = at - index * kBlock;
            const uint64_t piece = std::min(kBlock - within, offset + count - at);
            // A block written whole need not be read first.
            Block* block = Fetch(index, within != 0 || piece != BlockLength(index));
            if (!block)
                return false;
            memcpy(block->data.data() + within, in + (at - offset), piece);
            if (!block->dirty) {
                block->dirty = true;
                ++m_dirty;
            }
            at += piece;
        }
        if (m_dirty && m_firstDirty == Clock::time_point{}) {
            m_firstDirty = Clock::now();
            m_wake.notify_all();
        }
        return Trim();
    }

    bool Sync() override {
        std::lock_guard lock(m_lock);
        return FlushLocked();
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr uint64_t kBlock = 4096;
    static constexpr uint64_t kDirect = 256 * 1024;
    static constexpr size_t kMaxBlocks = 16384; // 64 MiB

    struct Block {
        std::vector<uint8_t> data;
        bool dirty = false;
        std::list<uint64_t>::iterator use;
    };

    uint64_t BlockLength(uint64_t index) const { return std::min(kBlock, m_length - index * kBlock); }

    // The cached block, read from the disk when it is not there yet and `read` is set.
    Block* Fetch(uint64_t index, bool read) {
        if (index * kBlock >= m_length)
            return errno = ENOSPC, nullptr;
        if (auto it = m_blocks.find(index); it != m_blocks.end()) {
            m_uses.splice(m_uses.begin(), m_uses, it->second.use);
            return &it->second;
        }
        Block block;
        block.data.assign(kBlock, 0);
        if (read && !Transfer(block.data.data(), BlockLength(index), index * kBlock, false))
            return nullptr;
        m_uses.push_front(index);
        block.use = m_uses.begin();
        return &m_blocks.emplace(index, std::move(block)).first->second;
    }

    void Drop(uint64_t index) {
        auto it = m_blocks.find(index);
        if (it == m_blocks.end())
            return;
        if (it->second.dirty)
            --m_dirty;
        m_uses.erase(it->second.use);
        m_blocks.erase(it);
    }

    void Overlay(uint64_t index, const Block& block, uint8_t* out, uint64_t count, uint64_t offset) const {
        const uint64_t first = std::max(index * kBlock, offset);
        const uint64_t end = std::min(index * kBlock + BlockLength(index), offset + count);
        if (first < end)
            memcpy(out + (first - offset), block.data.data() + (first - index * kBlock), end - first);
    }

    // Keeps the cache within its size: everything is written back, then the blocks least recently used go.
    bool Trim() {
        if (m_blocks.size() <= kMaxBlocks)
            return true;
        if (!FlushLocked())
            return false;
        while (m_blocks.size() > kMaxBlocks / 2) {
            m_blocks.erase(m_uses.back());
            m_uses.pop_back();
        }
        return true;
    }

    // Writes the changed blocks back, neighbours in one request.
    bool FlushLocked() {
        m_firstDirty = {};
        if (!m_dirty)
            return true;
        std::vector<uint64_t> indexes;
        for (const auto& [index, block] : m_blocks) {
            if (block.dirty)
                indexes.push_back(index);
        }
        std::sort(indexes.begin(), indexes.end());
        std::vector<uint8_t> run;
        bool ok = true;
        for (size_t i = 0; i < indexes.size();) {
            size_t j = i;
            run.clear();
            while (j < indexes.size() && indexes[j] == indexes[i] + (j - i) && run.size() < kMaxTransfer) {
                const Block& block = m_blocks[indexes[j]];
                run.insert(run.end(), block.data.begin(), block.data.begin() + BlockLength(indexes[j]));
                ++j;
            }
            if (Transfer(run.data(), run.size(), indexes[i] * kBlock, true)) {
                for (size_t k = i; k < j; ++k)
                    m_blocks[indexes[k]].dirty = false;
                m_dirty -= j - i;
            } else {
                ok = false;
            }
            i = j;
        }
        return ok;
    }

    // Writes changes back a second after the first of them at the latest.
    void FlushLater() {
        std::unique_lock lock(m_lock);
        while (!m_stopping) {
            if (m_firstDirty == Clock::time_point{}) {
                m_wake.wait(lock);
                continue;
            }
            const auto due = m_firstDirty + std::chrono::seconds(1);
            if (Clock::now() < due) {
                m_wake.wait_until(lock, due);
                continue;
            }
            FlushLocked();
        }
    }

    bool Transfer(void* buffer, uint64_t count, uint64_t offset, bool write) {
        uint64_t done = 0;
        while (done < count) {
            const ULONG piece = static_cast<ULONG>(std::min(count - done, kMaxTransfer));
            ULONG_PTR information = 0;
            const auto at = static_cast<LONGLONG>(offset + done);
            void* data = static_cast<uint8_t*>(buffer) + done;
            const NTSTATUS status = write ? platform::kernel::DeviceWrite(m_file, data, piece, at, information)
                                          : platform::kernel::DeviceRead(m_file, data, piece, at, information);
            if (!NT_SUCCESS(status) || information != piece) {
                errno = status == STATUS_DISK_FULL ? ENOSPC : EIO;
                return false;
            }
            done += piece;
        }
        return true;
    }

    DeviceFilePtr m_file;
    uint64_t m_length;
    std::mutex m_lock;
    std::map<uint64_t, Block> m_blocks;
    std::list<uint64_t> m_uses; // most recently used first
    size_t m_dirty = 0;
    Clock::time_point m_firstDirty;
    bool m_stopping = false;
    std::condition_variable m_wake;
    std::thread m_flusher;
};

// One mount on a disk of another driver.
struct ForeignVolume {
    PDEVICE_OBJECT disk = nullptr;
    PDEVICE_OBJECT device = nullptr; // the volume device
    std::unique_ptr<MountedFileSystem> fileSystem;
    int opens = 0;
    int dataOpens = 0;
    PFILE_OBJECT lockedBy = nullptr;
    bool dismounted = false;
};

// Guards the list and the state of every volume in it.
std::recursive_mutex g_lock;
std::vector<std::unique_ptr<ForeignVolume>> g_volumes;
// File systems whose mount their users still held when their disk went: they live on with them.
std::vector<std::unique_ptr<MountedFileSystem>> g_retired;
PDRIVER_OBJECT g_driver = nullptr;

ForeignVolume* VolumeOf(PDEVICE_OBJECT device) {
    return *static_cast<ForeignVolume**>(device->DeviceExtension);
}

bool HasData(PFILE_OBJECT file) {
    return file && (file->ReadAccess || file->WriteAccess);
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// The host folder of a disk's mount: "volumes/" and the device's name.
std::string FolderOf(const std::u16string& name) {
    std::string folder = platform::Utf16ToUtf8(name);
    std::replace(folder.begin(), folder.end(), '\\', '_');
    folder.erase(0, folder.find_first_not_of('_'));
    return platform::machine::PathOf("volumes/" + folder);
}

// Takes the file system away: the disk's new handles reach the disk again. Without `force` it refuses while files
// of it are open; forced, a mount its users still hold stays with them.
bool DropFileSystem(ForeignVolume& volume, bool force) {
    if (volume.fileSystem && !volume.fileSystem->Unmount(force)) {
        if (!force)
            return false;
        g_retired.push_back(std::move(volume.fileSystem));
    }
    volume.fileSystem.reset();
    platform::kernel::DismountVolume(volume.disk);
    platform::kernel::SetVolumeMount(volume.disk, {});
    volume.dismounted = true;
    return true;
}

void Forget(ForeignVolume* volume) {
    IoDeleteDevice(volume->device);
    std::erase_if(g_volumes, [&](const auto& v) { return v.get() == volume; });
}

NTSTATUS VolumeControl(ForeignVolume& volume, PIRP irp, ULONG code, PFILE_OBJECT file) {
    switch (code) {
    case FSCTL_LOCK_VOLUME:
        // Only the asking handle may be open, and no file of the file system.
        if (volume.lockedBy || volume.dataOpens > (HasData(file) ? 1 : 0) ||
            (volume.fileSystem && volume.fileSystem->Busy()))
            return Complete(irp, STATUS_ACCESS_DENIED);
        volume.lockedBy = file;
        if (volume.fileSystem)
            volume.fileSystem->Flush();
        return Complete(irp, STATUS_SUCCESS);
    case FSCTL_UNLOCK_VOLUME:
        if (volume.lockedBy != file)
            return Complete(irp, STATUS_NOT_LOCKED);
        volume.lockedBy = nullptr;
        return Complete(irp, STATUS_SUCCESS);
    case FSCTL_DISMOUNT_VOLUME:
        if (volume.dismounted)
            return Complete(irp, STATUS_SUCCESS);
        // The lock's holder dismounts a file system that nothing uses; a dismount without the lock is forced, as
        // the system's is (the disk is going).
        if (!DropFileSystem(volume, volume.lockedBy != file))
            return Complete(irp, STATUS_ACCESS_DENIED);
        return Complete(irp, STATUS_SUCCESS);
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PFILE_OBJECT file = stack->FileObject;
    std::unique_lock lock(g_lock);
    ForeignVolume* volume = VolumeOf(device);
    switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
        ++volume->opens;
        volume->dataOpens += HasData(file) ? 1 : 0;
        return Complete(irp, STATUS_SUCCESS);
    case IRP_MJ_CLEANUP:
        if (volume->lockedBy == file)
            volume->lockedBy = nullptr;
        return Complete(irp, STATUS_SUCCESS);
    case IRP_MJ_CLOSE: {
        --volume->opens;
        volume->dataOpens -= HasData(file) ? 1 : 0;
        const bool done = volume->dismounted && volume->opens <= 0;
        const NTSTATUS status = Complete(irp, STATUS_SUCCESS);
        if (done)
            Forget(volume);
        return status;
    }
    case IRP_MJ_FILE_SYSTEM_CONTROL:
        if (stack->MinorFunction != IRP_MN_USER_FS_REQUEST)
            return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
        return VolumeControl(*volume, irp, stack->Parameters.FileSystemControl.FsControlCode, file);
    case IRP_MJ_WRITE:
        // Raw writes under a mounted file system would corrupt it.
        if (volume->fileSystem && volume->lockedBy != file)
            return Complete(irp, STATUS_ACCESS_DENIED);
        [[fallthrough]];
    case IRP_MJ_READ:
    case IRP_MJ_FLUSH_BUFFERS:
    case IRP_MJ_DEVICE_CONTROL: {
        PDEVICE_OBJECT disk = volume->disk;
        lock.unlock();
        IoSkipCurrentIrpStackLocation(irp);
        return IoCallDriver(disk, irp);
    }
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    g_driver = driver;
    for (UCHAR major : {IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE, IRP_MJ_READ, IRP_MJ_WRITE, IRP_MJ_FLUSH_BUFFERS,
                        IRP_MJ_DEVICE_CONTROL, IRP_MJ_FILE_SYSTEM_CONTROL})
        driver->MajorFunction[major] = Dispatch;
    return STATUS_SUCCESS;
}

bool OwnDisk(const std::u16string& name) {
    static const std::u16string own = u"\\Device\\Harddisk";
    return name.size() >= own.size() && platform::EqualsNoCase(std::u16string_view(name).substr(0, own.size()), own);
}

// Mounts NTFS on a disk of another driver that holds it and has no file system mounted.
void Recognize(PDEVICE_OBJECT disk, const std::u16string& name) {
    if (!g_driver || disk->DriverObject == g_driver || OwnDisk(name) || disk->DeviceType != FILE_DEVICE_DISK ||
        (disk->Characteristics & FILE_READ_ONLY_DEVICE))
        return;
    std::lock_guard lock(g_lock);
    for (const auto& v : g_volumes) {
        // Mounted already, or held dismounted by the handle that locked it (a new file system is being written).
        if (v->disk == disk && (!v->dismounted || v->lockedBy))
            return;
    }
    DeviceFilePtr file;
    if (!NT_SUCCESS(platform::kernel::OpenDevice(name, GENERIC_READ | GENERIC_WRITE, 3, file)))
        return;
    if (IoGetRelatedDeviceObject(platform::kernel::FileObjectOf(file)) != disk) {
        platform::kernel::CloseDevice(file);
        return;
    }
    uint8_t boot[kSector];
    ULONG_PTR information = 0;
    GET_LENGTH_INFORMATION length{};
    if (!NT_SUCCESS(platform::kernel::DeviceRead(file, boot, sizeof(boot), 0, information)) ||
        information != sizeof(boot) || memcmp(boot + 3, "NTFS    ", 8) != 0 ||
        !NT_SUCCESS(platform::kernel::DeviceControl(file, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length,
                                                    sizeof(length), information)) ||
        length.Length.QuadPart <= 0) {
        platform::kernel::CloseDevice(file);
        return;
    }
    auto volume = std::make_unique<ForeignVolume>();
    volume->disk = disk;
    if (!NT_SUCCESS(IoCreateDevice(g_driver, sizeof(ForeignVolume*), nullptr, FILE_DEVICE_DISK_FILE_SYSTEM, 0, FALSE,
                                   &volume->device))) {
        platform::kernel::CloseDevice(file);
        return;
    }
    *static_cast<ForeignVolume**>(volume->device->DeviceExtension) = volume.get();
    // Reads and writes pass to the disk as they came: in the disk's own buffering.
    volume->device->Flags |= disk->Flags & (DO_DIRECT_IO | DO_BUFFERED_IO);
    volume->device->Flags &= ~DO_DEVICE_INITIALIZING;
    mkdir(platform::machine::PathOf("volumes").c_str(), 0755);
    volume->fileSystem = MountNtfs(
        std::make_unique<DeviceStore>(std::move(file), static_cast<uint64_t>(length.Length.QuadPart)), FolderOf(name));
    if (!volume->fileSystem || !NT_SUCCESS(platform::kernel::MountVolume(disk, volume->device))) {
        if (volume->fileSystem)
            volume->fileSystem->Unmount(true);
        IoDeleteDevice(volume->device);
        return;
    }
    platform::kernel::SetVolumeMount(disk, {volume->fileSystem->Root(), u"NTFS",
                                            platform::Utf8ToUtf16(volume->fileSystem->Label()),
                                            volume->fileSystem->Serial()});
    g_volumes.push_back(std::move(volume));
}

} // namespace

void StartForeignVolumes() {
    platform::kernel::LoadDriverEntry(u"ntfs", DriverEntry);
    platform::kernel::SetFileSystemRecognizer(Recognize);
}

void StopForeignVolumes() {
    platform::kernel::SetFileSystemRecognizer(nullptr);
    std::lock_guard lock(g_lock);
    for (const auto& volume : g_volumes) {
        if (!volume->dismounted)
            DropFileSystem(*volume, true);
    }
}

std::unique_ptr<VolumeStore> OpenLockedForeignVolume(int letter, uint32_t& error) {
    error = ERROR_FILE_NOT_FOUND;
    const std::u16string name = std::u16string(u"\\GLOBAL??\\") + static_cast<char16_t>(u'A' + letter) + u":";
    const std::u16string target = platform::kernel::ResolveName(name);
    if (target.empty() || OwnDisk(target))
        return nullptr;
    DeviceFilePtr file;
    if (!NT_SUCCESS(platform::kernel::OpenDevice(target, GENERIC_READ | GENERIC_WRITE, 3, file)))
        return nullptr;
    PDEVICE_OBJECT disk = platform::kernel::FileObjectOf(file)->DeviceObject;
    bool locked = IoGetRelatedDeviceObject(platform::kernel::FileObjectOf(file)) == disk &&
                  platform::kernel::RawVolumeLocked(disk);
    {
        std::lock_guard lock(g_lock);
        for (const auto& v : g_volumes)
            locked = locked || (v->disk == disk && v->dismounted && v->lockedBy);
    }
    ULONG_PTR information = 0;
    GET_LENGTH_INFORMATION length{};
    if (!locked || IoGetRelatedDeviceObject(platform::kernel::FileObjectOf(file)) != disk ||
        !NT_SUCCESS(platform::kernel::DeviceControl(file, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length,
                                                    sizeof(length), information))) {
        platform::kernel::CloseDevice(file);
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    error = ERROR_SUCCESS;
    return std::make_unique<DeviceStore>(std::move(file), static_cast<uint64_t>(length.Length.QuadPart));
}

} // namespace platform::devices
