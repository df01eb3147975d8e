// NTFS volumes of the kernel host: libntfs-3g reads and writes the partition's bytes straight from the image, and
// a FUSE file system of our own shows the volume at a folder of the machine folder.
//
// The packaged ntfs-3g program would need the partition as a file of its own (a second FUSE hop) and gets small
// requests; here FUSE runs several threads with requests of up to a megabyte. libntfs-3g is not made for threads,
// so one lock per volume serialises the calls into it; the threads still overlap the traffic with the kernel.
#include "platform/devices/ntfs_volume.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#define FUSE_USE_VERSION 312
#include <fuse3/fuse.h>
#include <fuse3/fuse_lowlevel.h>

extern "C" {
#include <ntfs-3g/types.h>

#include <ntfs-3g/attrib.h>
#include <ntfs-3g/cache.h>
#include <ntfs-3g/device.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/logging.h>
#include <ntfs-3g/ntfstime.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}

namespace platform::devices {
namespace {

constexpr unsigned kMaxRequest = 1u << 20;

// ---- The volume's store as libntfs-3g's device -------------------------------------------------------------

// An image file's stretch.
class ImageExtent : public VolumeStore {
public:
    ImageExtent(int fd, uint64_t offset, uint64_t length) : m_fd(fd), m_offset(offset), m_length(length) {}
    ~ImageExtent() override { close(m_fd); }
    ImageExtent(const ImageExtent&) = delete;
    ImageExtent& operator=(const ImageExtent&) = delete;

    uint64_t Length() const override { return m_length; }
    bool Read(void* buffer, uint64_t count, uint64_t offset) override {
        uint64_t done = 0;
        while (done < count) {
            const ssize_t n = pread(m_fd, static_cast<char*>(buffer) + done, count - done,
                                    static_cast<off_t>(m_offset + offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return false;
            if (n == 0) {
                // An image shorter than its disk reads zeros past its end.
                memset(static_cast<char*>(buffer) + done, 0, count - done);
                return true;
            }
            done += static_cast<uint64_t>(n);
        }
        return true;
    }
    bool Write(const void* buffer, uint64_t count, uint64_t offset) override {
        uint64_t done = 0;
        while (done < count) {
            const ssize_t n = pwrite(m_fd, static_cast<const char*>(buffer) + done, count - done,
                                     static_cast<off_t>(m_offset + offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += static_cast<uint64_t>(n);
        }
        return true;
    }
    bool Sync() override { return fdatasync(m_fd) == 0; }

private:
    int m_fd;
    uint64_t m_offset;
    uint64_t m_length;
};

struct Extent {
    VolumeStore* store;
    int64_t position = 0;
};

Extent* ExtentOf(struct ntfs_device* dev) {
    return static_cast<Extent*>(dev->d_private);
}

int DevOpen(struct ntfs_device* dev, int) {
    NDevSetOpen(dev);
    NDevSetBlock(dev);
    return 0;
}

int DevClose(struct ntfs_device* dev) {
    NDevClearOpen(dev);
    return 0;
}

s64 DevPread(struct ntfs_device* dev, void* buffer, s64 count, s64 offset) {
    VolumeStore& store = *ExtentOf(dev)->store;
    const uint64_t length = store.Length();
    if (offset < 0 || count < 0 || static_cast<uint64_t>(offset) > length)
        return errno = EINVAL, -1;
    count = std::min<s64>(count, static_cast<s64>(length - offset));
    if (count && !store.Read(buffer, static_cast<uint64_t>(count), static_cast<uint64_t>(offset)))
        return errno = errno ? errno : EIO, -1;
    return count;
}

s64 DevPwrite(struct ntfs_device* dev, const void* buffer, s64 count, s64 offset) {
    VolumeStore& store = *ExtentOf(dev)->store;
    const uint64_t length = store.Length();
    if (offset < 0 || count < 0 || static_cast<uint64_t>(offset) > length ||
        static_cast<uint64_t>(count) > length - offset)
        return errno = ENOSPC, -1;
    NDevSetDirty(dev);
    if (count && !store.Write(buffer, static_cast<uint64_t>(count), static_cast<uint64_t>(offset)))
        return errno = errno ? errno : EIO, -1;
    return count;
}

s64 DevSeek(struct ntfs_device* dev, s64 offset, int whence) {
    Extent* e = ExtentOf(dev);
    const s64 base = whence == SEEK_SET   ? 0
                     : whence == SEEK_CUR ? e->position
                                          : static_cast<s64>(e->store->Length());
    e->position = base + offset;
    return e->position;
}

s64 DevRead(struct ntfs_device* dev, void* buffer, s64 count) {
    const s64 n = DevPread(dev, buffer, count, ExtentOf(dev)->position);
    if (n > 0)
        ExtentOf(dev)->position += n;
    return n;
}

s64 DevWrite(struct ntfs_device* dev, const void* buffer, s64 count) {
    const s64 n = DevPwrite(dev, buffer, count, ExtentOf(dev)->position);
    if (n > 0)
        ExtentOf(dev)->position += n;
    return n;
}

int DevSync(struct ntfs_device* dev) {
    NDevClearDirty(dev);
    return ExtentOf(dev)->store->Sync() ? 0 : -1;
}

int DevStat(struct ntfs_device* dev, struct stat* buf) {
    memset(buf, 0, sizeof(*buf));
    buf->st_mode = S_IFBLK | 0600;
    buf->st_size = static_cast<off_t>(ExtentOf(dev)->store->Length());
    buf->st_blksize = 512;
    return 0;
}

int DevIoctl(struct ntfs_device*, unsigned long, void*) {
    return errno = ENOTTY, -1;
}

struct ntfs_device_operations g_extentOps = {DevOpen,  DevClose,  DevSeek, DevRead, DevWrite,
                                             DevPread, DevPwrite, DevSync, DevStat, DevIoctl};

// ---- The file system -----------------------------------------------------------------------------------------

class NtfsVolume;

NtfsVolume* Self() {
    return static_cast<NtfsVolume*>(fuse_get_context()->private_data);
}

// A name of the volume in NTFS characters, owned.
struct UName {
    ntfschar* chars = nullptr;
    int length = 0;
    explicit UName(const char* name) { length = ntfs_mbstoucs(name, &chars); }
    ~UName() { free(chars); }
    UName(const UName&) = delete;
    UName& operator=(const UName&) = delete;
    bool Ok() const { return length > 0 && length <= 255; }
};

// An open inode, closed with the scope.
struct Inode {
    ntfs_inode* ni = nullptr;
    Inode() = default;
    explicit Inode(ntfs_inode* n) : ni(n) {}
    ~Inode() { Close(); }
    Inode(const Inode&) = delete;
    Inode& operator=(const Inode&) = delete;
    void Close() {
        if (ni)
            ntfs_inode_close(ni);
        ni = nullptr;
    }
    ntfs_inode* Release() {
        ntfs_inode* n = ni;
        ni = nullptr;
        return n;
    }
    explicit operator bool() const { return ni != nullptr; }
};

// An open data attribute, closed with the scope.
struct Data {
    ntfs_attr* na = nullptr;
    explicit Data(ntfs_inode* ni) : na(ni ? ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0) : nullptr) {}
    ~Data() {
        if (na)
            ntfs_attr_close(na);
    }
    Data(const Data&) = delete;
    Data& operator=(const Data&) = delete;
    explicit operator bool() const { return na != nullptr; }
};

bool IsDirectory(const ntfs_inode* ni) {
    return (ni->mrec->flags & MFT_RECORD_IS_DIRECTORY) != 0;
}

// Splits "/a/b/c" into "/a/b" and "c".
void SplitPath(const char* path, std::string& parent, std::string& name) {
    const std::string p(path);
    const size_t slash = p.rfind('/');
    parent = slash == 0 ? "/" : p.substr(0, slash);
    name = p.substr(slash + 1);
}

class NtfsVolume : public MountedFileSystem {
public:
    explicit NtfsVolume(std::unique_ptr<VolumeStore> store) : m_store(std::move(store)), m_extent{m_store.get()} {}
    ~NtfsVolume() override {
        Unmount(true);
        // A mount still in its users' hands keeps reading and writing its store.
        if (m_fuse)
            (void)m_store.release();
    }

    bool Mount(const std::string& folder) {
        m_device = ntfs_device_alloc("volume", 0, &g_extentOps, &m_extent);
        if (!m_device)
            return false;
        m_volume = ntfs_device_mount(m_device, NTFS_MNT_NONE);
        if (!m_volume) {
            ntfs_device_free(m_device);
            m_device = nullptr;
            return false;
        }
        // Lookups of names and inodes are kept, as the packaged driver keeps them.
        ntfs_create_lru_caches(m_volume);
        ntfs_volume_get_free_space(m_volume);
        uint8_t boot[512];
        if (DevPread(m_device, boot, sizeof(boot), 0) == sizeof(boot))
            memcpy(&m_serial, boot + 0x48, 4);
        m_label = m_volume->vol_name ? m_volume->vol_name : "";

        // A mount left behind by a host that died is taken away first.
        umount2(folder.c_str(), MNT_DETACH);
        mkdir(folder.c_str(), 0755);
        static const fuse_operations ops = Operations();
        const char* argv[] = {"ntfs", "-o", "fsname=ntfs,subtype=ntfs", nullptr};
        fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(argv));
        m_fuse = fuse_new(&args, &ops, sizeof(ops), this);
        if (!m_fuse || fuse_mount(m_fuse, folder.c_str()) != 0) {
            if (m_fuse)
                fuse_destroy(m_fuse);
            m_fuse = nullptr;
            ntfs_umount(m_volume, FALSE);
            m_volume = nullptr;
            m_device = nullptr;
            return false;
        }
        m_root = folder;
        m_loop = std::thread([this] {
            // One thread serves every request: the volume serves one request at a time anyway (one lock around
            // the library), and the kernel wakes the same thread again and again instead of a different one of a
            // pool for each request, which on a busy machine doubled the time of a file's creation.
            Serve(fuse_get_session(m_fuse));
            std::lock_guard lock(m_doneLock);
            m_loopDone = true;
            m_done.notify_all();
        });
        return true;
    }

    // A loaded machine can take a while to pass the last close of a killed or just finished program on.
    bool Busy() override {
        std::unique_lock lock(m_openLock);
        return !m_idle.wait_for(lock, std::chrono::seconds(2), [&] { return m_open <= 0; });
    }

    void Flush() override {
        std::lock_guard lock(m_lock);
        if (m_volume)
            ntfs_device_sync(m_volume->dev);
    }

    bool Unmount(bool force) override {
        if (!m_fuse)
            return true;
        if (m_loop.get_id() == std::thread::id() && !m_loopDone)
            return false; // detached before: still in its users' hands
        if (!force && Busy())
            return false;
        fuse_exit(m_fuse);
        fuse_unmount(m_fuse);
        // The loop ends once the kernel lets go of the mount; files still open (a forced unmount) can hold it.
        std::unique_lock done(m_doneLock);
        if (!m_done.wait_for(done, std::chrono::seconds(5), [&] { return m_loopDone; })) {
            // The mount's users keep the file system: it stays with them, as it is, and this object with it.
            m_loop.detach();
            return false;
        }
        done.unlock();
        m_loop.join();
        fuse_destroy(m_fuse);
        m_fuse = nullptr;
        std::lock_guard lock(m_lock);
        ntfs_umount(m_volume, FALSE);
        m_volume = nullptr;
        m_device = nullptr;
        rmdir(m_root.c_str());
        return true;
    }

    const std::string& Root() const override { return m_root; }
    std::string Label() const override { return m_label; }
    uint32_t Serial() const override { return m_serial; }

private:
    // The requests of one file (its lookup, creation, data and times) follow each other closely: after each, the
    // device is watched for a short while before the thread sleeps in poll, so that the next one is taken without
    // a wake-up.
    static void Serve(fuse_session* session) {
        const int fd = fuse_session_fd(session);
        const int flags = fcntl(fd, F_GETFL);
        if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
            fuse_session_loop(session);
            return;
        }
        fuse_buf buf{};
        auto quietSince = std::chrono::steady_clock::now();
        while (!fuse_session_exited(session)) {
            const int got = fuse_session_receive_buf(session, &buf);
            if (got == -EAGAIN) {
                if (std::chrono::steady_clock::now() - quietSince < std::chrono::microseconds(50)) {
                    sched_yield();
                    continue;
                }
                pollfd wait{fd, POLLIN, 0};
                poll(&wait, 1, -1);
                quietSince = std::chrono::steady_clock::now();
                continue;
            }
            if (got == -EINTR)
                continue;
            if (got <= 0)
                break;
            fuse_session_process_buf(session, &buf);
            quietSince = std::chrono::steady_clock::now();
        }
        free(buf.mem);
        fuse_session_reset(session);
    }

    static fuse_operations Operations() {
        fuse_operations ops{};
        ops.init = [](fuse_conn_info* conn, fuse_config* cfg) -> void* {
            conn->max_write = kMaxRequest;
            conn->max_readahead = kMaxRequest;
            // The kernel gathers small writes into large requests; a file's data reaches the volume at its close
            // at the latest.
            if (conn->capable & FUSE_CAP_WRITEBACK_CACHE)
                conn->want |= FUSE_CAP_WRITEBACK_CACHE;
            cfg->use_ino = 1;
            // Nothing but this mount changes the volume while it is mounted: what the kernel learnt of names and
            // attributes stays true for a while.
            cfg->entry_timeout = cfg->attr_timeout = 1.0;
            cfg->negative_timeout = 0;
            return fuse_get_context()->private_data;
        };
        ops.getattr = [](const char* path, struct stat* st, fuse_file_info*) { return Self()->GetAttr(path, st); };
        ops.readdir = [](const char* path, void* buf, fuse_fill_dir_t filler, off_t, fuse_file_info*,
                         fuse_readdir_flags) { return Self()->ReadDir(path, buf, filler); };
        ops.opendir = [](const char* path, fuse_file_info*) { return Self()->Open(path, false); };
        ops.releasedir = [](const char*, fuse_file_info*) { return Self()->Release(); };
        ops.open = [](const char* path, fuse_file_info*) { return Self()->Open(path, true); };
        ops.release = [](const char*, fuse_file_info*) { return Self()->Release(); };
        ops.create = [](const char* path, mode_t, fuse_file_info*) { return Self()->Create(path, S_IFREG, true); };
        ops.mknod = [](const char* path, mode_t mode, dev_t) {
            return S_ISREG(mode) ? Self()->Create(path, S_IFREG, false) : -EPERM;
        };
        ops.mkdir = [](const char* path, mode_t) { return Self()->Create(path, S_IFDIR, false); };
        ops.unlink = [](const char* path) { return Self()->Delete(path); };
        ops.rmdir = [](const char* path) { return Self()->Delete(path); };
        ops.rename = [](const char* from, const char* to, unsigned int flags) {
            return Self()->Rename(from, to, flags);
        };
        ops.read = [](const char* path, char* buf, size_t size, off_t offset, fuse_file_info*) {
            return Self()->Transfer(path, buf, size, offset, false);
        };
        ops.write = [](const char* path, const char* buf, size_t size, off_t offset, fuse_file_info*) {
            return Self()->Transfer(path, const_cast<char*>(buf), size, offset, true);
        };
        ops.truncate = [](const char* path, off_t size, fuse_file_info*) { return Self()->Truncate(path, size); };
        ops.utimens = [](const char* path, const struct timespec tv[2], fuse_file_info*) {
            return Self()->SetTimes(path, tv);
        };
        ops.chmod = [](const char*, mode_t, fuse_file_info*) { return 0; };
        ops.chown = [](const char*, uid_t, gid_t, fuse_file_info*) { return 0; };
        // No flush: each close of a file would otherwise wait for a round trip that has nothing to do.
        ops.fsync = [](const char*, int, fuse_file_info*) {
            Self()->Flush();
            return 0;
        };
        ops.statfs = [](const char*, struct statvfs* st) { return Self()->StatFs(st); };
        return ops;
    }

    ntfs_inode* Lookup(const char* path) { return ntfs_pathname_to_inode(m_volume, nullptr, path); }

    int GetAttr(const char* path, struct stat* st) {
        std::lock_guard lock(m_lock);
        Inode ni(Lookup(path));
        if (!ni)
            return -errno;
        memset(st, 0, sizeof(*st));
        st->st_ino = ni.ni->mft_no;
        if (IsDirectory(ni.ni)) {
            st->st_mode = S_IFDIR | 0755;
            st->st_nlink = 2;
        } else {
            Data data(ni.ni);
            st->st_mode = S_IFREG | 0644;
            st->st_nlink = 1;
            st->st_size = data ? data.na->data_size : 0;
            st->st_blocks = data ? (data.na->allocated_size + 511) / 512 : 0;
        }
        st->st_blksize = m_volume->cluster_size;
        st->st_atim = ntfs2timespec(ni.ni->last_access_time);
        st->st_mtim = ntfs2timespec(ni.ni->last_data_change_time);
        st->st_ctim = ntfs2timespec(ni.ni->last_mft_change_time);
        st->st_uid = getuid();
        st->st_gid = getgid();
        return 0;
    }

    struct Listing {
        void* buf;
        fuse_fill_dir_t filler;
    };

    static int Fill(void* context, const ntfschar* name, const int length, const int type, const s64,
                    const MFT_REF mref, const unsigned) {
        if (type == FILE_NAME_DOS)
            return 0;
        // The volume's own files ($MFT and the rest) are not shown, except the directory's "." and "..".
        if (MREF(mref) < FILE_first_user && MREF(mref) != FILE_root)
            return 0;
        char* text = nullptr;
        if (ntfs_ucstombs(name, length, &text, 0) < 0 || !text)
            return 0;
        auto* listing = static_cast<Listing*>(context);
        const int full = listing->filler(listing->buf, text, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
        free(text);
        return full ? -1 : 0;
    }

    int ReadDir(const char* path, void* buf, fuse_fill_dir_t filler) {
        std::lock_guard lock(m_lock);
        Inode ni(Lookup(path));
        if (!ni)
            return -errno;
        if (!IsDirectory(ni.ni))
            return -ENOTDIR;
        Listing listing{buf, filler};
        s64 position = 0;
        if (ntfs_readdir(ni.ni, &position, &listing, Fill) != 0 && errno != 0 && position == 0)
            return -errno;
        return 0;
    }

    int Open(const char* path, bool file) {
        std::lock_guard lock(m_lock);
        Inode ni(Lookup(path));
        if (!ni)
            return -errno;
        if (file && IsDirectory(ni.ni))
            return -EISDIR;
        ++m_open;
        return 0;
    }

    int Release() {
        std::lock_guard lock(m_openLock);
        if (--m_open <= 0)
            m_idle.notify_all();
        return 0;
    }

    int Create(const char* path, mode_t type, bool open) {
        std::string parent, name;
        SplitPath(path, parent, name);
        UName uname(name.c_str());
        if (!uname.Ok())
            return -ENAMETOOLONG;
        std::lock_guard lock(m_lock);
        Inode dir(Lookup(parent.c_str()));
        if (!dir)
            return -errno;
        Inode ni(ntfs_create(dir.ni, const_cpu_to_le32(0), uname.chars, static_cast<u8>(uname.length), type));
        if (!ni)
            return -errno;
        if (open)
            ++m_open;
        return 0;
    }

    // Removes a name; ntfs_delete closes both inodes whatever happens.
    int DeleteLocked(const char* path) {
        std::string parent, name;
        SplitPath(path, parent, name);
        UName uname(name.c_str());
        if (!uname.Ok())
            return -ENAMETOOLONG;
        Inode ni(Lookup(path));
        if (!ni)
            return -errno;
        Inode dir(Lookup(parent.c_str()));
        if (!dir)
            return -errno;
        if (ntfs_delete(m_volume, path, ni.Release(), dir.Release(), uname.chars, static_cast<u8>(uname.length)))
            return -errno;
        return 0;
    }

    int Delete(const char* path) {
        std::lock_guard lock(m_lock);
        return DeleteLocked(path);
    }

    int Rename(const char* from, const char* to, unsigned int flags) {
        if (flags)
            return -EINVAL;
        std::string parent, name;
        SplitPath(to, parent, name);
        UName uname(name.c_str());
        if (!uname.Ok())
            return -ENAMETOOLONG;
        std::lock_guard lock(m_lock);
        {
            Inode existing(Lookup(to));
            if (existing) {
                const bool wasDirectory = IsDirectory(existing.ni);
                Inode source(Lookup(from));
                if (!source)
                    return -errno;
                if (source.ni->mft_no == existing.ni->mft_no)
                    return 0;
                if (wasDirectory != IsDirectory(source.ni))
                    return wasDirectory ? -EISDIR : -ENOTDIR;
                existing.Close();
                source.Close();
                if (const int error = DeleteLocked(to))
                    return error;
            }
        }
        Inode ni(Lookup(from));
        if (!ni)
            return -errno;
        Inode dir(Lookup(parent.c_str()));
        if (!dir)
            return -errno;
        if (ntfs_link(ni.ni, dir.ni, uname.chars, static_cast<u8>(uname.length)))
            return -errno;
        ni.Close();
        dir.Close();
        return DeleteLocked(from);
    }

    int Transfer(const char* path, char* buf, size_t size, off_t offset, bool write) {
        std::lock_guard lock(m_lock);
        Inode ni(Lookup(path));
        if (!ni)
            return -errno;
        Data data(ni.ni);
        if (!data)
            return -errno;
        s64 done = 0;
        while (done < static_cast<s64>(size)) {
            const s64 n = write ? ntfs_attr_pwrite(data.na, offset + done, size - done, buf + done)
                                : ntfs_attr_pread(data.na, offset + done, size - done, buf + done);
            if (n < 0)
                return done ? static_cast<int>(done) : -errno;
            if (n == 0)
                break;
            done += n;
        }
        if (write)
            ntfs_inode_update_times(ni.ni, static_cast<ntfs_time_update_flags>(NTFS_UPDATE_MCTIME));
        return static_cast<int>(done);
    }

    int Truncate(const char* path, off_t size) {
        std::lock_guard lock(m_lock);
        Inode ni(Lookup(path));
        if (!ni)
            return -errno;
        Data data(ni.ni);
        if (!data)
            return -errno;
        if (ntfs_attr_truncate(data.na, size))
            return -errno;
        ntfs_inode_update_times(ni.ni, static_cast<ntfs_time_update_flags>(NTFS_UPDATE_MCTIME));
        return 0;
    }

    int SetTimes(const char* path, const struct timespec tv[2]) {
        std::lock_guard lock(m_lock);
        Inode ni(Lookup(path));
        if (!ni)
            return -errno;
        const ntfs_time now = ntfs_current_time();
        if (tv[0].tv_nsec != UTIME_OMIT)
            ni.ni->last_access_time = tv[0].tv_nsec == UTIME_NOW ? now : timespec2ntfs(tv[0]);
        if (tv[1].tv_nsec != UTIME_OMIT)
            ni.ni->last_data_change_time = tv[1].tv_nsec == UTIME_NOW ? now : timespec2ntfs(tv[1]);
        ni.ni->last_mft_change_time = now;
        ntfs_inode_mark_dirty(ni.ni);
        return 0;
    }

    int StatFs(struct statvfs* st) {
        std::lock_guard lock(m_lock);
        memset(st, 0, sizeof(*st));
        st->f_bsize = st->f_frsize = m_volume->cluster_size;
        st->f_blocks = static_cast<fsblkcnt_t>(m_volume->nr_clusters);
        st->f_bfree = st->f_bavail = static_cast<fsblkcnt_t>(std::max<s64>(m_volume->free_clusters, 0));
        st->f_files = static_cast<fsfilcnt_t>(m_volume->mft_na ? m_volume->mft_na->data_size >> 10 : 0);
        st->f_ffree = static_cast<fsfilcnt_t>(std::max<s64>(m_volume->free_mft_records, 0));
        st->f_namemax = 255;
        return 0;
    }

    std::unique_ptr<VolumeStore> m_store;
    Extent m_extent;
    struct ntfs_device* m_device = nullptr;
    ntfs_volume* m_volume = nullptr;
    struct fuse* m_fuse = nullptr;
    std::thread m_loop;
    std::mutex m_doneLock;
    std::condition_variable m_done;
    bool m_loopDone = false;
    std::recursive_mutex m_lock;
    std::mutex m_openLock;
    std::condition_variable m_idle;
    std::atomic<int> m_open{0};
    std::string m_root;
    std::string m_label;
    uint32_t m_serial = 0;
};

} // namespace

std::unique_ptr<VolumeStore> ImageStore(int fd, uint64_t offset, uint64_t length) {
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return nullptr;
    return std::make_unique<ImageExtent>(own, offset, length);
}

std::unique_ptr<MountedFileSystem> MountNtfs(std::unique_ptr<VolumeStore> store, const std::string& folder) {
    static const bool quiet = [] {
        ntfs_log_set_handler(ntfs_log_handler_null);
        return true;
    }();
    (void)quiet;
    uint8_t boot[512];
    if (!store || store->Length() < sizeof(boot) || !store->Read(boot, sizeof(boot), 0) ||
        memcmp(boot + 3, "NTFS    ", 8))
        return nullptr;
    auto volume = std::make_unique<NtfsVolume>(std::move(store));
    if (!volume->Mount(folder))
        return nullptr;
    return volume;
}

} // namespace platform::devices
