// The kernel host's disks: a built-in driver that serves plugged image files as disks and their partitions as
// volumes, the list of plugged disks, drive letters and volume names, and the "disks" service.
#include "platform/devices/disk_host.h"
#include "platform/devices/disk_service.h"
#include "platform/devices/disks.h"
#include "platform/devices/mbr.h"
#include "platform/devices/notices_host.h"
#include "platform/devices/ntfs_volume.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/fs/paths.h"
#include "platform/kernel/host.h"
#include "platform/kernel/iomanager.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/protocol.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform::devices {
namespace {

namespace protocol = platform::kernel::protocol;

constexpr GUID kDiskInterface = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
constexpr GUID kVolumeInterface = {0x53F5630D, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// DBT codes the host raises.
constexpr uint32_t kArrival = 0x8000;
constexpr uint32_t kQueryRemove = 0x8001;
constexpr uint32_t kQueryRemoveFailed = 0x8002;
constexpr uint32_t kRemoveComplete = 0x8004;
constexpr uint32_t kTypeVolume = 2;
constexpr uint32_t kTypeHandle = 6;
constexpr uint32_t kTypeInterface = 5;

struct Disk;
struct Volume;

// What a device's extension points at.
struct DeviceContext {
    Disk* disk = nullptr;
    Volume* volume = nullptr; // null for the whole disk
};

// One partition: its device, its volume name and letter, and the file system mounted on it.
struct Volume {
    Disk* disk = nullptr;
    Partition partition;
    PDEVICE_OBJECT device = nullptr;
    std::u16string deviceName; // \Device\HarddiskN\PartitionM
    std::u16string linkName;   // \GLOBAL??\HarddiskNPartitionM
    std::u16string volumeName; // Volume{...}
    int letter = -1;
    DeviceContext context;
    std::atomic<int> opens{0};
    std::atomic<int> dataOpens{0}; // handles with read or write access: those a lock waits for
    PFILE_OBJECT lockedBy = nullptr;
    bool dismounted = false;
    std::unique_ptr<MountedFileSystem> fileSystem;
};

struct Disk {
    DiskInfo info;
    int fd = -1;
    uint64_t size = 0;
    // Requests hold it shared; changes of the layout and the removal hold it exclusively.
    std::shared_mutex lock;
    bool gone = false;
    Mbr mbr;
    PDEVICE_OBJECT whole = nullptr;
    std::u16string wholeName; // \Device\HarddiskN\Partition0
    std::u16string interfaceLink;
    DeviceContext context;
    std::atomic<int> opens{0};
    std::vector<std::unique_ptr<Volume>> volumes;
};

// Guards the disk list, plugging and unplugging (one at a time). Taken before a disk's own lock.
std::recursive_mutex g_lock;
// Guards the open counts and lock states of the devices; taken last.
std::recursive_mutex g_stateLock;
std::map<DWORD, std::unique_ptr<Disk>> g_disks;
// Objects of removed disks and volumes: a request that entered the driver before the removal may still hold one,
// so they stay until the host ends.
std::vector<std::unique_ptr<Disk>> g_retiredDisks;
std::vector<std::unique_ptr<Volume>> g_retiredVolumes;
// File systems whose mount their users still hold after a forced removal: they live on with them.
std::vector<std::unique_ptr<MountedFileSystem>> g_retiredFileSystems;
PDRIVER_OBJECT g_driver = nullptr;

UNICODE_STRING Counted(const std::u16string& s) {
    UNICODE_STRING u;
    u.Buffer = const_cast<char16_t*>(s.data());
    u.Length = u.MaximumLength = static_cast<USHORT>(s.size() * sizeof(WCHAR));
    return u;
}

NTSTATUS CreateLink(const std::u16string& link, const std::u16string& target) {
    UNICODE_STRING l = Counted(link);
    UNICODE_STRING t = Counted(target);
    return IoCreateSymbolicLink(&l, &t);
}

void DeleteLink(const std::u16string& link) {
    if (link.empty())
        return;
    UNICODE_STRING l = Counted(link);
    IoDeleteSymbolicLink(&l);
}

std::u16string Decimal(uint64_t v) {
    return platform::Utf8ToUtf16(std::to_string(v));
}

std::u16string Hex(uint64_t v, int width) {
    char buffer[32];
    snprintf(buffer, sizeof(buffer), "%0*llx", width, static_cast<unsigned long long>(v));
    return platform::Utf8ToUtf16(buffer);
}

// ---- Identity ------------------------------------------------------------------------------------------------

// Text with the characters device ids cannot hold replaced (upper-cased for instance ids), padded or cut to
// `width` (0: as is).
std::u16string IdText(const std::u16string& text, size_t width, bool upper = true) {
    std::u16string out;
    for (char16_t c : text) {
        if (c <= u' ' || c == u'\\' || c == u'#' || c == u',' || c > 0x7E)
            c = u'_';
        out.push_back(upper ? platform::FoldUpper(c) : c);
    }
    if (width) {
        out.resize(std::min(out.size(), width));
        out.append(width - out.size(), u'_');
    }
    return out;
}

std::u16string Lower(std::u16string s) {
    for (auto& c : s) {
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return s;
}

// Fills the ids and names of a disk from its identity, as the system names a USB disk or a fixed disk.
void CompleteIdentity(DiskInfo& info) {
    DiskIdentity& id = info.identity;
    if (id.serial.empty()) {
        uint32_t hash = 2166136261u;
        for (unsigned char c : info.image)
            hash = (hash ^ c) * 16777619u;
        id.serial = platform::Utf8ToUtf16("IMG" + std::to_string(hash));
    }
    const bool usb = !id.hardwareId.empty();
    if (id.friendlyName.empty())
        id.friendlyName = id.vendor + u" " + id.product + (usb ? u" USB Device" : u" Disk Device");
    const std::u16string model =
        u"DISK&VEN_" + IdText(id.vendor, 0) + u"&PROD_" + IdText(id.product, 0) + u"&REV_" + IdText(id.revision, 0);
    const std::u16string serial = IdText(id.serial, 0);
    if (usb) {
        info.instanceId = u"USBSTOR\\" + model + u"\\" + serial + u"&0";
        std::u16string bridge = id.hardwareId;
        for (auto& c : bridge)
            c = platform::FoldUpper(c);
        info.parentId = bridge + u"\\" + serial;
        info.hardwareId = u"USBSTOR\\Disk" + IdText(id.vendor, 8, false) + IdText(id.product, 16, false) +
                          IdText(id.revision, 4, false);
    } else {
        info.instanceId = u"SCSI\\" + model + u"\\" + serial + u"&0";
        info.parentId = u"ROOT\\SCSIADAPTER\\0000";
        info.hardwareId =
            u"SCSI\\Disk" + IdText(id.vendor, 8, false) + IdText(id.product, 16, false) + IdText(id.revision, 4, false);
    }
    std::u16string link = info.instanceId;
    std::replace(link.begin(), link.end(), u'\\', u'#');
    info.interfacePath = u"\\\\?\\" + Lower(link) + u"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
}

// ---- The list of plugged disks in the machine folder -----------------------------------------------------------

std::string ListPath() {
    return platform::machine::PathOf("devices/disks");
}

std::string LettersPath() {
    return platform::machine::PathOf("devices/letters");
}

std::string Field(const std::u16string& s) {
    std::string out = platform::Utf16ToUtf8(s);
    std::replace(out.begin(), out.end(), '\t', ' ');
    std::replace(out.begin(), out.end(), '\n', ' ');
    return out;
}

// Writes a file of the machine folder whole: a temporary file beside it, renamed over it.
void WriteWhole(const std::string& path, const std::string& text) {
    mkdir(platform::machine::PathOf("devices").c_str(), 0700);
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << text;
        out.flush();
        if (!out)
            return;
    }
    rename(temporary.c_str(), path.c_str());
}

void SaveListLocked() {
    std::ostringstream text;
    for (const auto& [number, disk] : g_disks) {
        const DiskIdentity& id = disk->info.identity;
        text << number << '\t' << disk->info.image << '\t' << Field(id.hardwareId) << '\t' << Field(id.serial) << '\t'
             << Field(id.vendor) << '\t' << Field(id.product) << '\t' << Field(id.revision) << '\t'
             << Field(id.friendlyName) << '\t' << (id.removable ? 1 : 0) << '\n';
    }
    WriteWhole(ListPath(), text.str());
}

struct SavedDisk {
    DWORD number;
    std::string image;
    DiskIdentity identity;
};

std::vector<SavedDisk> LoadList() {
    std::vector<SavedDisk> saved;
    std::ifstream in(ListPath());
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        std::string part;
        while (std::getline(fields, part, '\t'))
            f.push_back(part);
        if (f.size() < 9)
            continue;
        SavedDisk disk;
        disk.number = static_cast<DWORD>(strtoul(f[0].c_str(), nullptr, 10));
        disk.image = f[1];
        disk.identity.hardwareId = platform::Utf8ToUtf16(f[2]);
        disk.identity.serial = platform::Utf8ToUtf16(f[3]);
        disk.identity.vendor = platform::Utf8ToUtf16(f[4]);
        disk.identity.product = platform::Utf8ToUtf16(f[5]);
        disk.identity.revision = platform::Utf8ToUtf16(f[6]);
        disk.identity.friendlyName = platform::Utf8ToUtf16(f[7]);
        disk.identity.removable = f[8] == "1";
        saved.push_back(std::move(disk));
    }
    return saved;
}

// The letter each volume had, by disk signature and partition offset, so that a disk plugged again gets its
// letters back.
std::map<std::string, int> LoadLetters() {
    std::map<std::string, int> letters;
    std::ifstream in(LettersPath());
    std::string key;
    char letter;
    while (in >> key >> letter) {
        if (letter >= 'A' && letter <= 'Z')
            letters[key] = letter - 'A';
    }
    return letters;
}

std::string VolumeKey(const Disk& disk, const Partition& p) {
    char key[64];
    snprintf(key, sizeof(key), "%08x:%llu", disk.mbr.signature, static_cast<unsigned long long>(p.offset));
    return key;
}

void RememberLetter(const std::string& key, int letter) {
    auto letters = LoadLetters();
    if (letter < 0)
        letters.erase(key);
    else
        letters[key] = letter;
    std::ostringstream text;
    for (const auto& [k, l] : letters)
        text << k << ' ' << static_cast<char>('A' + l) << '\n';
    WriteWhole(LettersPath(), text.str());
}

// ---- Devices -----------------------------------------------------------------------------------------------

DeviceContext* ContextOf(PDEVICE_OBJECT device) {
    return *static_cast<DeviceContext**>(device->DeviceExtension);
}

NTSTATUS NewDevice(const std::u16string& name, ULONG characteristics, DeviceContext* context, PDEVICE_OBJECT& out) {
    UNICODE_STRING u = Counted(name);
    NTSTATUS status =
        IoCreateDevice(g_driver, sizeof(DeviceContext*), &u, FILE_DEVICE_DISK, characteristics, FALSE, &out);
    if (!NT_SUCCESS(status))
        return status;
    *static_cast<DeviceContext**>(out->DeviceExtension) = context;
    out->Flags |= DO_DIRECT_IO;
    out->Flags &= ~DO_DEVICE_INITIALIZING;
    out->AlignmentRequirement = FILE_512_BYTE_ALIGNMENT;
    return STATUS_SUCCESS;
}

bool LetterFree(int letter) {
    for (const auto& drive : platform::fs::Drives()) {
        if (drive.letter == u'A' + letter)
            return false;
    }
    return true;
}

std::u16string LetterLink(int letter) {
    return std::u16string(u"\\GLOBAL??\\") + static_cast<char16_t>(u'A' + letter) + u":";
}

// Gives a volume its letter: the one it had before when that is free, else the first free one from D.
void AssignLetter(Volume& volume, std::vector<DeviceNotice>& notices) {
    const std::string key = VolumeKey(*volume.disk, volume.partition);
    const auto remembered = LoadLetters();
    int letter = -1;
    if (auto it = remembered.find(key); it != remembered.end() && LetterFree(it->second))
        letter = it->second;
    for (int l = 3; letter < 0 && l < 26; ++l) {
        if (LetterFree(l))
            letter = l;
    }
    if (letter < 0 || !NT_SUCCESS(CreateLink(LetterLink(letter), volume.deviceName)))
        return;
    volume.letter = letter;
    RememberLetter(key, letter);
    DeviceNotice notice;
    notice.event = kArrival;
    notice.kind = kTypeVolume;
    notice.unitMask = 1u << letter;
    notices.push_back(notice);
}

// Mounts the file system on the volume when it has one the layer reads; its letter then leads to its folder.
void MountFileSystem(Volume& volume) {
    if (volume.fileSystem || volume.dismounted || volume.volumeName.empty() || !volume.device)
        return;
    mkdir(platform::machine::PathOf("volumes").c_str(), 0755);
    volume.fileSystem = MountNtfs(ImageStore(volume.disk->fd, volume.partition.offset, volume.partition.length),
                                  platform::machine::PathOf("volumes/" + platform::Utf16ToUtf8(volume.volumeName)));
    if (volume.fileSystem)
        platform::kernel::SetVolumeMount(volume.device, {volume.fileSystem->Root(), u"NTFS",
                                                         platform::Utf8ToUtf16(volume.fileSystem->Label()),
                                                         volume.fileSystem->Serial()});
}

// Takes the file system away; without `force` only when nothing of it is open.
bool DropFileSystem(Volume& volume, bool force) {
    if (!volume.fileSystem)
        return true;
    if (!volume.fileSystem->Unmount(force)) {
        if (!force)
            return false;
        g_retiredFileSystems.push_back(std::move(volume.fileSystem));
    }
    volume.fileSystem.reset();
    if (volume.device)
        platform::kernel::SetVolumeMount(volume.device, {});
    return true;
}

// Makes the devices of one partition.
void AddVolume(Disk& disk, const Partition& p, std::vector<DeviceNotice>& notices) {
    auto volume = std::make_unique<Volume>();
    volume->disk = &disk;
    volume->partition = p;
    volume->context = {&disk, volume.get()};
    const std::u16string n = Decimal(disk.info.number);
    volume->deviceName = u"\\Device\\Harddisk" + n + u"\\Partition" + Decimal(p.number);
    if (!NT_SUCCESS(NewDevice(volume->deviceName, disk.info.identity.removable ? FILE_REMOVABLE_MEDIA : 0,
                              &volume->context, volume->device)))
        return;
    volume->linkName = u"\\GLOBAL??\\Harddisk" + n + u"Partition" + Decimal(p.number);
    CreateLink(volume->linkName, volume->deviceName);
    if (IsRecognizedPartitionType(p.type)) {
        // A volume name that stays with the partition: the disk signature and the partition's offset.
        const uint64_t offset = p.offset / kSectorSize;
        std::u16string guid = u"Volume{" + Hex(disk.mbr.signature, 8) + u"-" + Hex((offset >> 48) & 0xFFFF, 4) + u"-" +
                              Hex((offset >> 32) & 0xFFFF, 4) + u"-" + Hex((offset >> 16) & 0xFFFF, 4) + u"-" +
                              Hex(offset & 0xFFFF, 4) + Hex(p.number, 8) + u"}";
        if (NT_SUCCESS(CreateLink(u"\\GLOBAL??\\" + guid, volume->deviceName)))
            volume->volumeName = guid;
        MountFileSystem(*volume);
        AssignLetter(*volume, notices);
        DeviceNotice notice;
        notice.event = kArrival;
        notice.kind = kTypeInterface;
        notice.classGuid = kVolumeInterface;
        notice.name = u"\\\\?\\" + volume->volumeName;
        if (!volume->volumeName.empty())
            notices.push_back(notice);
    }
    disk.volumes.push_back(std::move(volume));
}

// Takes one volume's devices, names and file system away. Its notices go to `notices`.
void RemoveVolume(Volume& volume, std::vector<DeviceNotice>& notices) {
    DropFileSystem(volume, true);
    if (volume.letter >= 0) {
        DeleteLink(LetterLink(volume.letter));
        DeviceNotice notice;
        notice.event = kRemoveComplete;
        notice.kind = kTypeVolume;
        notice.unitMask = 1u << volume.letter;
        notices.push_back(notice);
        volume.letter = -1;
    }
    DeviceNotice handle;
    handle.event = kRemoveComplete;
    handle.kind = kTypeHandle;
    handle.name = volume.deviceName;
    notices.push_back(handle);
    if (!volume.volumeName.empty())
        DeleteLink(u"\\GLOBAL??\\" + volume.volumeName);
    DeleteLink(volume.linkName);
    if (volume.device)
        IoDeleteDevice(volume.device);
    volume.device = nullptr;
}

bool VolumeBusy(Volume& volume) {
    return volume.opens > 0 || (volume.fileSystem && volume.fileSystem->Busy());
}

// Reads sector 0 and brings the partition devices in line with it: partitions that kept their place keep their
// devices; the others go and new ones come.
void SyncPartitions(Disk& disk, std::vector<DeviceNotice>& notices) {
    uint8_t sector[kSectorSize] = {};
    const Mbr previous = disk.mbr;
    disk.mbr = pread(disk.fd, sector, kSectorSize, 0) == kSectorSize ? ParseMbr(sector) : Mbr{};
    const auto wanted = PartitionsOf(disk.mbr);
    std::vector<std::unique_ptr<Volume>> kept;
    for (auto& volume : disk.volumes) {
        const bool same = previous.signature == disk.mbr.signature &&
                          std::any_of(wanted.begin(), wanted.end(), [&](const Partition& p) {
                              return p.number == volume->partition.number && p.offset == volume->partition.offset &&
                                     p.length == volume->partition.length && p.type == volume->partition.type;
                          });
        if (same) {
            kept.push_back(std::move(volume));
            continue;
        }
        RemoveVolume(*volume, notices);
        g_retiredVolumes.push_back(std::move(volume));
    }
    disk.volumes = std::move(kept);
    for (const Partition& p : wanted) {
        const bool present = std::any_of(disk.volumes.begin(), disk.volumes.end(),
                                         [&](const auto& v) { return v->partition.number == p.number; });
        if (!present)
            AddVolume(disk, p, notices);
    }
    std::sort(disk.volumes.begin(), disk.volumes.end(),
              [](const auto& a, const auto& b) { return a->partition.number < b->partition.number; });
}

// Partitions whose place a new boot record changes, and which cannot go because something uses them.
bool LayoutChangeBlocked(const Disk& disk, const Mbr& next) {
    const auto wanted = PartitionsOf(next);
    for (const auto& volume : disk.volumes) {
        const bool kept =
            next.signature == disk.mbr.signature && std::any_of(wanted.begin(), wanted.end(), [&](const Partition& p) {
                return p.number == volume->partition.number && p.offset == volume->partition.offset &&
                       p.length == volume->partition.length && p.type == volume->partition.type;
            });
        if (!kept && VolumeBusy(*volume))
            return true;
    }
    return false;
}

// ---- Requests ----------------------------------------------------------------------------------------------

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

template <class T> NTSTATUS Reply(PIRP irp, ULONG outputLength, const T& value) {
    if (outputLength < sizeof(T))
        return Complete(irp, STATUS_BUFFER_TOO_SMALL);
    memcpy(irp->AssociatedIrp.SystemBuffer, &value, sizeof(T));
    return Complete(irp, STATUS_SUCCESS, sizeof(T));
}

NTSTATUS ReplyBytes(PIRP irp, ULONG outputLength, const std::vector<uint8_t>& bytes) {
    if (outputLength < bytes.size())
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, bytes.size());
    memcpy(irp->AssociatedIrp.SystemBuffer, bytes.data(), bytes.size());
    return Complete(irp, STATUS_SUCCESS, bytes.size());
}

DISK_GEOMETRY GeometryOf(const Disk& disk) {
    DISK_GEOMETRY g{};
    g.Cylinders.QuadPart = static_cast<LONGLONG>(disk.size / (uint64_t{kHeads} * kSectorsPerTrack * kSectorSize));
    g.MediaType = disk.info.identity.removable ? RemovableMedia : FixedMedia;
    g.TracksPerCylinder = kHeads;
    g.SectorsPerTrack = kSectorsPerTrack;
    g.BytesPerSector = kSectorSize;
    return g;
}

// Writes a new boot record and brings the partitions in line; the caller holds the disk exclusively.
NTSTATUS WriteLayout(Disk& disk, const Mbr& next, std::vector<DeviceNotice>& notices) {
    if (LayoutChangeBlocked(disk, next))
        return STATUS_ACCESS_DENIED;
    uint8_t sector[kSectorSize] = {};
    if (pread(disk.fd, sector, kSectorSize, 0) != kSectorSize)
        return STATUS_IO_DEVICE_ERROR;
    WriteMbr(next, sector);
    if (pwrite(disk.fd, sector, kSectorSize, 0) != kSectorSize || fdatasync(disk.fd) != 0)
        return STATUS_IO_DEVICE_ERROR;
    SyncPartitions(disk, notices);
    return STATUS_SUCCESS;
}

std::vector<uint8_t> DeviceDescriptor(const Disk& disk) {
    const DiskIdentity& id = disk.info.identity;
    std::vector<uint8_t> out(sizeof(STORAGE_DEVICE_DESCRIPTOR), 0);
    auto append = [&](const std::u16string& text) {
        const DWORD offset = static_cast<DWORD>(out.size());
        const std::string bytes = platform::Utf16ToUtf8(text);
        out.insert(out.end(), bytes.begin(), bytes.end());
        out.push_back(0);
        return offset;
    };
    const DWORD vendor = append(id.vendor);
    const DWORD product = append(id.product);
    const DWORD revision = append(id.revision);
    const DWORD serial = append(id.serial);
    STORAGE_DEVICE_DESCRIPTOR d{};
    d.Version = sizeof(STORAGE_DEVICE_DESCRIPTOR);
    d.Size = static_cast<DWORD>(out.size());
    d.DeviceType = 0; // direct-access device
    d.RemovableMedia = id.removable;
    d.VendorIdOffset = vendor;
    d.ProductIdOffset = product;
    d.ProductRevisionOffset = revision;
    d.SerialNumberOffset = serial;
    d.BusType = id.hardwareId.empty() ? BusTypeScsi : BusTypeUsb;
    memcpy(out.data(), &d, offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties));
    return out;
}

NTSTATUS QueryProperty(const Disk& disk, PIRP irp, ULONG inputLength, ULONG outputLength) {
    if (inputLength < offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters))
        return Complete(irp, STATUS_INVALID_PARAMETER);
    STORAGE_PROPERTY_QUERY query;
    memcpy(&query, irp->AssociatedIrp.SystemBuffer, offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters));
    if (query.PropertyId != StorageDeviceProperty && query.PropertyId != StorageAdapterProperty)
        return Complete(irp, STATUS_NOT_SUPPORTED);
    if (query.QueryType == PropertyExistsQuery)
        return Complete(irp, STATUS_SUCCESS);
    if (query.QueryType != PropertyStandardQuery)
        return Complete(irp, STATUS_INVALID_PARAMETER);
    std::vector<uint8_t> bytes;
    if (query.PropertyId == StorageDeviceProperty) {
        bytes = DeviceDescriptor(disk);
    } else {
        STORAGE_ADAPTER_DESCRIPTOR a{};
        a.Version = a.Size = sizeof(a);
        a.MaximumTransferLength = 1u << 20;
        a.MaximumPhysicalPages = 257;
        a.AlignmentMask = 0x1FF;
        a.BusType = static_cast<BYTE>(disk.info.identity.hardwareId.empty() ? BusTypeScsi : BusTypeUsb);
        a.BusMajorVersion = 2;
        bytes.resize(sizeof(a));
        memcpy(bytes.data(), &a, sizeof(a));
    }
    // As the system does, a short buffer receives the beginning (at least the header tells the full size).
    if (outputLength < sizeof(STORAGE_DESCRIPTOR_HEADER))
        return Complete(irp, STATUS_INVALID_PARAMETER);
    const size_t count = std::min<size_t>(outputLength, bytes.size());
    memcpy(irp->AssociatedIrp.SystemBuffer, bytes.data(), count);
    return Complete(irp, STATUS_SUCCESS, count);
}

// Handles opened without read or write access only ask questions; they do not keep a volume from being locked.
bool HasData(PFILE_OBJECT file) {
    return file && (file->ReadAccess || file->WriteAccess);
}

bool Locked(const Volume& volume, PFILE_OBJECT file) {
    return volume.lockedBy == file;
}

// Volume controls: lock, unlock and dismount of the file system on the partition.
NTSTATUS VolumeControl(Volume& volume, PIRP irp, ULONG code, PFILE_OBJECT file) {
    std::lock_guard lock(g_stateLock);
    switch (code) {
    case FSCTL_LOCK_VOLUME:
        // Only the one handle that asks may be open, and no file of the file system.
        if (volume.lockedBy || volume.dataOpens > (HasData(file) ? 1 : 0) ||
            (volume.fileSystem && volume.fileSystem->Busy()))
            return Complete(irp, STATUS_ACCESS_DENIED);
        volume.lockedBy = file;
        if (volume.fileSystem)
            volume.fileSystem->Flush();
        return Complete(irp, STATUS_SUCCESS);
    case FSCTL_UNLOCK_VOLUME:
        if (!Locked(volume, file))
            return Complete(irp, STATUS_NOT_LOCKED);
        volume.lockedBy = nullptr;
        if (volume.dismounted) {
            volume.dismounted = false;
            MountFileSystem(volume);
        }
        return Complete(irp, STATUS_SUCCESS);
    case FSCTL_DISMOUNT_VOLUME:
        // Without the lock a dismount would pull the files from under their users: it is refused while any are
        // open.
        if (!Locked(volume, file) && volume.fileSystem && volume.fileSystem->Busy())
            return Complete(irp, STATUS_ACCESS_DENIED);
        if (!DropFileSystem(volume, false))
            return Complete(irp, STATUS_ACCESS_DENIED);
        volume.dismounted = true;
        return Complete(irp, STATUS_SUCCESS);
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

// True when a write of [offset, offset + length) of the whole disk would land in a volume whose file system is
// mounted: the system refuses raw writes there.
bool HitsMountedVolume(const Disk& disk, uint64_t offset, uint64_t length) {
    for (const auto& volume : disk.volumes) {
        const Partition& p = volume->partition;
        if (volume->fileSystem && offset < p.offset + p.length && p.offset < offset + length)
            return true;
    }
    return false;
}

NTSTATUS Transfer(Disk& disk, Volume* volume, PIRP irp, bool write, PFILE_OBJECT file) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG length = stack->Parameters.Read.Length;
    const LONGLONG offset = stack->Parameters.Read.ByteOffset.QuadPart;
    const uint64_t base = volume ? volume->partition.offset : 0;
    const uint64_t limit = volume ? volume->partition.length : disk.size;
    if (length == 0)
        return Complete(irp, STATUS_SUCCESS);
    if (offset < 0 || offset % kSectorSize || length % kSectorSize)
        return Complete(irp, STATUS_INVALID_PARAMETER);
    if (static_cast<uint64_t>(offset) >= limit)
        return Complete(irp, STATUS_END_OF_FILE);
    if (length > limit - static_cast<uint64_t>(offset))
        return Complete(irp, STATUS_INVALID_PARAMETER);
    if (write) {
        std::lock_guard lock(g_stateLock);
        const bool refused = volume ? (volume->fileSystem && !Locked(*volume, file))
                                    : HitsMountedVolume(disk, static_cast<uint64_t>(offset), length);
        if (refused)
            return Complete(irp, STATUS_ACCESS_DENIED);
    }
    auto* buffer =
        static_cast<uint8_t*>(irp->MdlAddress ? MmGetSystemAddressForMdlSafe(irp->MdlAddress, 0) : irp->UserBuffer);
    if (!buffer)
        return Complete(irp, STATUS_INSUFFICIENT_RESOURCES);
    size_t done = 0;
    while (done < length) {
        const off_t at = static_cast<off_t>(base + static_cast<uint64_t>(offset) + done);
        const ssize_t n = write ? pwrite(disk.fd, buffer + done, length - done, at)
                                : pread(disk.fd, buffer + done, length - done, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Complete(irp, errno == ENOSPC ? STATUS_DISK_FULL : STATUS_IO_DEVICE_ERROR, done);
        if (n == 0) {
            // An image shorter than the disk reads zeros past its end.
            memset(buffer + done, 0, length - done);
            done = length;
            break;
        }
        done += static_cast<size_t>(n);
    }
    return Complete(irp, STATUS_SUCCESS, done);
}

NTSTATUS Control(Disk& disk, Volume* volume, PIRP irp, PFILE_OBJECT file, std::vector<DeviceNotice>& notices) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
    const auto* input = static_cast<const uint8_t*>(irp->AssociatedIrp.SystemBuffer);
    const uint64_t length = volume ? volume->partition.length : disk.size;
    switch (code) {
    case IOCTL_DISK_GET_DRIVE_GEOMETRY:
        return Reply(irp, out, GeometryOf(disk));
    case IOCTL_DISK_GET_DRIVE_GEOMETRY_EX: {
        std::vector<uint8_t> bytes(offsetof(DISK_GEOMETRY_EX, Data) + sizeof(DISK_PARTITION_INFO), 0);
        const DISK_GEOMETRY g = GeometryOf(disk);
        const LONGLONG size = static_cast<LONGLONG>(disk.size);
        memcpy(bytes.data(), &g, sizeof(g));
        memcpy(bytes.data() + offsetof(DISK_GEOMETRY_EX, DiskSize), &size, sizeof(size));
        DISK_PARTITION_INFO info{};
        info.SizeOfPartitionInfo = sizeof(info);
        info.PartitionStyle = disk.mbr.valid ? PARTITION_STYLE_MBR : PARTITION_STYLE_RAW;
        info.Mbr.Signature = disk.mbr.signature;
        memcpy(bytes.data() + offsetof(DISK_GEOMETRY_EX, Data), &info, sizeof(info));
        // The partition record is optional: a buffer with room for geometry and size only gets those.
        if (out >= offsetof(DISK_GEOMETRY_EX, Data) && out < bytes.size())
            bytes.resize(offsetof(DISK_GEOMETRY_EX, Data));
        return ReplyBytes(irp, out, bytes);
    }
    case IOCTL_DISK_GET_LENGTH_INFO:
        return Reply(irp, out, GET_LENGTH_INFORMATION{{.QuadPart = static_cast<LONGLONG>(length)}});
    case IOCTL_DISK_GET_PARTITION_INFO: {
        PARTITION_INFORMATION info{};
        info.PartitionLength.QuadPart = static_cast<LONGLONG>(length);
        if (volume) {
            info.StartingOffset.QuadPart = static_cast<LONGLONG>(volume->partition.offset);
            info.HiddenSectors = static_cast<DWORD>(volume->partition.offset / kSectorSize);
            info.PartitionNumber = volume->partition.number;
            info.PartitionType = volume->partition.type;
            info.BootIndicator = volume->partition.boot;
            info.RecognizedPartition = IsRecognizedPartitionType(volume->partition.type);
        }
        return Reply(irp, out, info);
    }
    case IOCTL_DISK_GET_PARTITION_INFO_EX: {
        PARTITION_INFORMATION_EX info{};
        info.PartitionStyle = PARTITION_STYLE_MBR;
        info.PartitionLength.QuadPart = static_cast<LONGLONG>(length);
        if (volume) {
            info.StartingOffset.QuadPart = static_cast<LONGLONG>(volume->partition.offset);
            info.PartitionNumber = volume->partition.number;
            info.Mbr.PartitionType = volume->partition.type;
            info.Mbr.BootIndicator = volume->partition.boot;
            info.Mbr.RecognizedPartition = IsRecognizedPartitionType(volume->partition.type);
            info.Mbr.HiddenSectors = static_cast<DWORD>(volume->partition.offset / kSectorSize);
        }
        return Reply(irp, out, info);
    }
    case IOCTL_DISK_GET_DRIVE_LAYOUT:
        return ReplyBytes(irp, out, LayoutRecord(disk.mbr));
    case IOCTL_DISK_GET_DRIVE_LAYOUT_EX:
        return ReplyBytes(irp, out, LayoutRecordEx(disk.mbr));
    case IOCTL_DISK_SET_DRIVE_LAYOUT:
    case IOCTL_DISK_SET_DRIVE_LAYOUT_EX: {
        if (volume)
            return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
        const auto next = code == IOCTL_DISK_SET_DRIVE_LAYOUT ? MbrFromLayout(input, in, disk.size)
                                                              : MbrFromLayoutEx(input, in, disk.size);
        if (!next)
            return Complete(irp, STATUS_INVALID_PARAMETER);
        return Complete(irp, WriteLayout(disk, *next, notices));
    }
    case IOCTL_DISK_CREATE_DISK: {
        if (volume)
            return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
        if (in < sizeof(CREATE_DISK))
            return Complete(irp, STATUS_INVALID_PARAMETER);
        CREATE_DISK create;
        memcpy(&create, input, sizeof(create));
        if (create.PartitionStyle != PARTITION_STYLE_MBR)
            return Complete(irp, STATUS_NOT_SUPPORTED);
        Mbr empty;
        empty.valid = true;
        empty.signature = create.Mbr.Signature;
        return Complete(irp, WriteLayout(disk, empty, notices));
    }
    case IOCTL_DISK_UPDATE_PROPERTIES:
        SyncPartitions(disk, notices);
        return Complete(irp, STATUS_SUCCESS);
    case IOCTL_DISK_IS_WRITABLE:
    case IOCTL_DISK_CHECK_VERIFY:
    case IOCTL_STORAGE_CHECK_VERIFY:
    case IOCTL_STORAGE_CHECK_VERIFY2:
    case IOCTL_DISK_MEDIA_REMOVAL:
    case IOCTL_STORAGE_MEDIA_REMOVAL:
        return Complete(irp, STATUS_SUCCESS);
    case IOCTL_STORAGE_GET_DEVICE_NUMBER:
        return Reply(irp, out,
                     STORAGE_DEVICE_NUMBER{FILE_DEVICE_DISK, disk.info.number, volume ? volume->partition.number : 0});
    case IOCTL_STORAGE_GET_HOTPLUG_INFO: {
        const BOOLEAN usb = !disk.info.identity.hardwareId.empty();
        return Reply(irp, out, STORAGE_HOTPLUG_INFO{8, disk.info.identity.removable, usb, usb, 0});
    }
    case IOCTL_STORAGE_QUERY_PROPERTY:
        return QueryProperty(disk, irp, in, out);
    case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: {
        if (!volume)
            return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
        VOLUME_DISK_EXTENTS extents{};
        extents.NumberOfDiskExtents = 1;
        extents.Extents[0].DiskNumber = disk.info.number;
        extents.Extents[0].StartingOffset.QuadPart = static_cast<LONGLONG>(volume->partition.offset);
        extents.Extents[0].ExtentLength.QuadPart = static_cast<LONGLONG>(volume->partition.length);
        return Reply(irp, out, extents);
    }
    case IOCTL_MOUNTDEV_QUERY_DEVICE_NAME: {
        const std::u16string& name = volume ? volume->deviceName : disk.wholeName;
        const USHORT bytes = static_cast<USHORT>(name.size() * sizeof(WCHAR));
        if (out < sizeof(USHORT))
            return Complete(irp, STATUS_INVALID_PARAMETER);
        auto* record = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
        memcpy(record, &bytes, sizeof(bytes));
        if (out < sizeof(USHORT) + bytes)
            return Complete(irp, STATUS_BUFFER_OVERFLOW, sizeof(USHORT));
        memcpy(record + sizeof(USHORT), name.data(), bytes);
        return Complete(irp, STATUS_SUCCESS, sizeof(USHORT) + bytes);
    }
    case FSCTL_LOCK_VOLUME:
    case FSCTL_UNLOCK_VOLUME:
    case FSCTL_DISMOUNT_VOLUME:
        if (!volume)
            return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
        return VolumeControl(*volume, irp, code, file);
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

bool ChangesLayout(ULONG code) {
    return code == IOCTL_DISK_SET_DRIVE_LAYOUT || code == IOCTL_DISK_SET_DRIVE_LAYOUT_EX ||
           code == IOCTL_DISK_CREATE_DISK || code == IOCTL_DISK_UPDATE_PROPERTIES;
}

NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp) {
    DeviceContext* context = ContextOf(device);
    Disk& disk = *context->disk;
    Volume* volume = context->volume;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PFILE_OBJECT file = stack->FileObject;
    const UCHAR major = stack->MajorFunction;
    const bool control = major == IRP_MJ_DEVICE_CONTROL || major == IRP_MJ_FILE_SYSTEM_CONTROL;
    const bool exclusive = control && ChangesLayout(stack->Parameters.DeviceIoControl.IoControlCode);
    std::vector<DeviceNotice> notices;
    NTSTATUS status;
    {
        std::shared_lock shared(disk.lock, std::defer_lock);
        std::unique_lock unique(disk.lock, std::defer_lock);
        if (exclusive)
            unique.lock();
        else
            shared.lock();
        if (disk.gone)
            return Complete(irp, STATUS_NO_SUCH_DEVICE);
        std::atomic<int>& opens = volume ? volume->opens : disk.opens;
        switch (major) {
        case IRP_MJ_CREATE: {
            std::lock_guard lock(g_stateLock);
            // A locked volume takes no other handle.
            if (volume && volume->lockedBy)
                return Complete(irp, STATUS_ACCESS_DENIED);
            ++opens;
            if (volume && HasData(file))
                ++volume->dataOpens;
            return Complete(irp, STATUS_SUCCESS, FILE_OPENED);
        }
        case IRP_MJ_CLEANUP:
            return Complete(irp, STATUS_SUCCESS);
        case IRP_MJ_CLOSE: {
            std::lock_guard lock(g_stateLock);
            --opens;
            if (volume && HasData(file))
                --volume->dataOpens;
            if (volume && Locked(*volume, file)) {
                // The handle that held the lock is gone: the volume is free again, and mounted once more when its
                // file system was dismounted.
                volume->lockedBy = nullptr;
                if (volume->dismounted) {
                    volume->dismounted = false;
                    MountFileSystem(*volume);
                }
            }
            return Complete(irp, STATUS_SUCCESS);
        }
        case IRP_MJ_READ:
        case IRP_MJ_WRITE:
            return Transfer(disk, volume, irp, major == IRP_MJ_WRITE, file);
        case IRP_MJ_FLUSH_BUFFERS:
            return Complete(irp, fdatasync(disk.fd) == 0 ? STATUS_SUCCESS : STATUS_IO_DEVICE_ERROR);
        case IRP_MJ_DEVICE_CONTROL:
        case IRP_MJ_FILE_SYSTEM_CONTROL:
            status = Control(disk, volume, irp, file, notices);
            break;
        default:
            return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
        }
    }
    for (const auto& notice : notices)
        Announce(notice);
    return status;
}

NTSTATUS DriverEntryOfDisks(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    g_driver = driver;
    for (UCHAR major : {IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE, IRP_MJ_READ, IRP_MJ_WRITE, IRP_MJ_FLUSH_BUFFERS,
                        IRP_MJ_DEVICE_CONTROL, IRP_MJ_FILE_SYSTEM_CONTROL})
        driver->MajorFunction[major] = Dispatch;
    return STATUS_SUCCESS;
}

// ---- Plugging and unplugging -------------------------------------------------------------------------------

DWORD PlugLocked(const std::string& image, const DiskIdentity& identity, DWORD wantedNumber, DWORD& number) {
    struct stat st {};
    if (stat(image.c_str(), &st) != 0)
        return ERROR_FILE_NOT_FOUND;
    // Only regular files: the layer never touches the host's own block devices.
    if (!S_ISREG(st.st_mode) || st.st_size < static_cast<off_t>(kSectorSize))
        return ERROR_INVALID_PARAMETER;
    for (const auto& [n, disk] : g_disks) {
        struct stat other {};
        if (fstat(disk->fd, &other) == 0 && other.st_dev == st.st_dev && other.st_ino == st.st_ino)
            return ERROR_ALREADY_EXISTS;
    }
    const int fd = open(image.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    number = wantedNumber;
    if (number == 0 || g_disks.count(number)) {
        number = 1;
        while (g_disks.count(number))
            ++number;
    }
    auto disk = std::make_unique<Disk>();
    disk->fd = fd;
    disk->size = static_cast<uint64_t>(st.st_size) / kSectorSize * kSectorSize;
    disk->info.number = number;
    char resolved[PATH_MAX];
    disk->info.image = realpath(image.c_str(), resolved) ? resolved : image;
    disk->info.identity = identity;
    disk->info.size = disk->size;
    CompleteIdentity(disk->info);
    disk->context = {disk.get(), nullptr};

    const std::u16string n = Decimal(number);
    const std::u16string folder = u"\\Device\\Harddisk" + n;
    UNICODE_STRING folderName = Counted(folder);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &folderName, OBJ_PERMANENT | OBJ_CASE_INSENSITIVE | OBJ_OPENIF, nullptr,
                               nullptr);
    HANDLE directory = nullptr;
    if (NT_SUCCESS(ZwCreateDirectoryObject(&directory, DIRECTORY_ALL_ACCESS, &attributes)))
        ZwClose(directory);
    disk->wholeName = folder + u"\\Partition0";
    if (!NT_SUCCESS(
            NewDevice(disk->wholeName, identity.removable ? FILE_REMOVABLE_MEDIA : 0, &disk->context, disk->whole))) {
        close(fd);
        return ERROR_GEN_FAILURE;
    }
    CreateLink(u"\\GLOBAL??\\PhysicalDrive" + n, disk->wholeName);
    disk->interfaceLink = u"\\GLOBAL??\\" + disk->info.interfacePath.substr(4);
    CreateLink(disk->interfaceLink, disk->wholeName);

    std::vector<DeviceNotice> notices;
    Disk& plugged = *disk;
    g_disks[number] = std::move(disk);
    {
        std::unique_lock lock(plugged.lock);
        SyncPartitions(plugged, notices);
    }
    SaveListLocked();
    DeviceNotice arrival;
    arrival.event = kArrival;
    arrival.kind = kTypeInterface;
    arrival.classGuid = kDiskInterface;
    arrival.name = plugged.info.interfacePath;
    Announce(arrival);
    for (const auto& notice : notices)
        Announce(notice);
    return ERROR_SUCCESS;
}

DeviceNotice HandleNotice(uint32_t event, const std::u16string& device) {
    DeviceNotice notice;
    notice.event = event;
    notice.kind = kTypeHandle;
    notice.name = device;
    return notice;
}

// Asks the programs whether the disk may go: each of its volumes, then the disk itself. A refusal tells everyone
// asked that the removal failed. Called without g_lock: a program may answer by tidying up through this service
// (its mount points, a virtual disk it keeps on the disk) before it agrees. `asked` receives the names asked.
bool AskRemoval(DWORD number, std::vector<std::u16string>& asked) {
    std::vector<std::u16string> volumes;
    std::u16string whole;
    {
        std::lock_guard lock(g_lock);
        auto it = g_disks.find(number);
        if (it == g_disks.end())
            return true; // the removal itself says it is not there
        for (const auto& volume : it->second->volumes)
            volumes.push_back(volume->deviceName);
        whole = it->second->wholeName;
    }
    bool allowed = true;
    for (const auto& name : volumes) {
        asked.push_back(name);
        if (!Query(HandleNotice(kQueryRemove, name))) {
            allowed = false;
            break;
        }
    }
    if (allowed) {
        asked.push_back(whole);
        allowed = Query(HandleNotice(kQueryRemove, whole));
    }
    if (!allowed) {
        for (const auto& name : asked)
            Announce(HandleNotice(kQueryRemoveFailed, name));
    }
    return allowed;
}

// Removes a disk. Unless it is a surprise removal (the disk was pulled, or the host is stopping), a disk or volume
// still in use once the programs were asked (AskRemoval) stays, and those asked hear that the removal failed.
DWORD UnplugLocked(DWORD number, bool surprise, bool forget, const std::vector<std::u16string>& asked = {}) {
    auto it = g_disks.find(number);
    if (it == g_disks.end())
        return ERROR_FILE_NOT_FOUND;
    Disk& disk = *it->second;
    if (!surprise) {
        bool inUse;
        {
            std::lock_guard lock(g_stateLock);
            inUse = disk.opens != 0 ||
                    std::any_of(disk.volumes.begin(), disk.volumes.end(), [](const auto& v) { return VolumeBusy(*v); });
        }
        if (inUse) {
            for (const auto& name : asked)
                Announce(HandleNotice(kQueryRemoveFailed, name));
            return ERROR_DEVICE_IN_USE;
        }
    }
    std::vector<DeviceNotice> notices;
    {
        std::unique_lock lock(disk.lock);
        for (auto& volume : disk.volumes) {
            RemoveVolume(*volume, notices);
            g_retiredVolumes.push_back(std::move(volume));
        }
        disk.volumes.clear();
        DeleteLink(disk.interfaceLink);
        DeleteLink(u"\\GLOBAL??\\PhysicalDrive" + Decimal(number));
        IoDeleteDevice(disk.whole);
        disk.whole = nullptr;
        disk.gone = true;
        close(disk.fd);
        disk.fd = -1;
    }
    notices.push_back(HandleNotice(kRemoveComplete, disk.wholeName));
    DeviceNotice departure;
    departure.event = kRemoveComplete;
    departure.kind = kTypeInterface;
    departure.classGuid = kDiskInterface;
    departure.name = disk.info.interfacePath;
    notices.push_back(departure);
    g_retiredDisks.push_back(std::move(it->second));
    g_disks.erase(it);
    if (forget)
        SaveListLocked();
    for (const auto& notice : notices)
        Announce(notice);
    return ERROR_SUCCESS;
}

std::u16string LettersOf(const Disk& disk) {
    std::u16string letters;
    for (const auto& volume : disk.volumes) {
        if (volume->letter >= 0)
            letters.push_back(static_cast<char16_t>(u'A' + volume->letter));
    }
    return letters;
}

// ---- Mount points ------------------------------------------------------------------------------------------

Volume* VolumeByName(const std::u16string& volumeName) {
    for (const auto& [number, disk] : g_disks) {
        for (const auto& volume : disk->volumes) {
            if (!volume->volumeName.empty() && platform::EqualsNoCase(volume->volumeName, volumeName))
                return volume.get();
        }
    }
    return nullptr;
}

Volume* VolumeByLetter(int letter) {
    for (const auto& [number, disk] : g_disks) {
        for (const auto& volume : disk->volumes) {
            if (volume->letter == letter)
                return volume.get();
        }
    }
    return nullptr;
}

// Gives a volume the letter (a volume has one letter at most).
DWORD SetMountPointLocked(int letter, const std::u16string& volumeName) {
    Volume* volume = VolumeByName(volumeName);
    if (!volume)
        return ERROR_FILE_NOT_FOUND;
    if (volume->letter == letter)
        return ERROR_SUCCESS;
    if (volume->letter >= 0)
        return ERROR_INVALID_PARAMETER;
    // A letter the drive table or a device already uses is taken; a program's own definition of the letter
    // (DefineDosDevice) does not count, as it only shadows the global name for that program's session.
    const auto drive = platform::fs::Drive(static_cast<WCHAR>(u'A' + letter));
    if ((drive && !drive->raw) || !platform::kernel::ResolveName(LetterLink(letter)).empty())
        return ERROR_DIR_NOT_EMPTY;
    if (!NT_SUCCESS(CreateLink(LetterLink(letter), volume->deviceName)))
        return ERROR_DIR_NOT_EMPTY;
    volume->letter = letter;
    RememberLetter(VolumeKey(*volume->disk, volume->partition), letter);
    DeviceNotice notice;
    notice.event = kArrival;
    notice.kind = kTypeVolume;
    notice.unitMask = 1u << letter;
    Announce(notice);
    return ERROR_SUCCESS;
}

DWORD DeleteMountPointLocked(int letter) {
    Volume* volume = VolumeByLetter(letter);
    if (!volume)
        return ERROR_FILE_NOT_FOUND;
    DeleteLink(LetterLink(letter));
    volume->letter = -1;
    RememberLetter(VolumeKey(*volume->disk, volume->partition), -1);
    DeviceNotice notice;
    notice.event = kRemoveComplete;
    notice.kind = kTypeVolume;
    notice.unitMask = 1u << letter;
    Announce(notice);
    return ERROR_SUCCESS;
}

// ---- Formatting ----------------------------------------------------------------------------------------------

std::string FindProgram(const char* name) {
    std::string path = getenv("PATH") ? getenv("PATH") : "";
    path += ":/usr/sbin:/sbin:/usr/bin:/bin";
    std::istringstream folders(path);
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::string candidate = folder + "/" + name;
        if (!folder.empty() && access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// Runs a program with its output thrown away; true when it ended with 0.
bool RunQuietly(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Copies what a sparse file holds into the volume: the new file system's structures.
bool CopyWritten(int from, VolumeStore& to) {
    std::vector<uint8_t> buffer(4u << 20);
    off_t data = 0;
    for (;;) {
        data = lseek(from, data, SEEK_DATA);
        if (data < 0)
            return errno == ENXIO;
        const off_t hole = lseek(from, data, SEEK_HOLE);
        if (hole < 0)
            return false;
        for (off_t at = data; at < hole;) {
            const size_t count = static_cast<size_t>(std::min<off_t>(hole - at, static_cast<off_t>(buffer.size())));
            if (pread(from, buffer.data(), count, at) != static_cast<ssize_t>(count) ||
                !to.Write(buffer.data(), count, static_cast<uint64_t>(at)))
                return false;
            at += static_cast<off_t>(count);
        }
        data = hole;
    }
}

// Writes a new NTFS on a volume that a handle holds locked with its file system dismounted: mkntfs builds it in
// a sparse file of the volume's size, and what it wrote is copied into place. A partition of the disks here or
// the disk of another driver (a secure disk).
DWORD FormatLocked(int letter, const std::u16string& label, uint32_t clusterSize) {
    std::unique_ptr<VolumeStore> store;
    uint64_t hiddenSectors = 0;
    std::string scratchName;
    Disk* disk = nullptr;
    if (Volume* volume = VolumeByLetter(letter)) {
        {
            std::lock_guard state(g_stateLock);
            if (!volume->lockedBy || !volume->dismounted)
                return ERROR_ACCESS_DENIED;
        }
        disk = volume->disk;
        store = ImageStore(disk->fd, volume->partition.offset, volume->partition.length);
        if (!store)
            return ERROR_GEN_FAILURE;
        hiddenSectors = volume->partition.offset / kSectorSize;
        scratchName = std::to_string(disk->info.number) + "-" + std::to_string(volume->partition.number);
    } else {
        uint32_t error = ERROR_SUCCESS;
        store = OpenLockedForeignVolume(letter, error);
        if (!store)
            return error;
        scratchName = std::string(1, static_cast<char>('A' + letter));
    }
    const std::string mkntfs = FindProgram("mkntfs");
    if (mkntfs.empty())
        return ERROR_NOT_SUPPORTED;
    const std::string scratch = platform::machine::PathOf("devices/format-" + scratchName + ".img");
    mkdir(platform::machine::PathOf("devices").c_str(), 0700);
    const int fd = open(scratch.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return ERROR_GEN_FAILURE;
    DWORD result = ERROR_GEN_FAILURE;
    if (ftruncate(fd, static_cast<off_t>(store->Length())) == 0) {
        std::vector<std::string> arguments = {mkntfs, "-q",  "-Q", "-F", "-s", "512",
                                              "-H",   "255", "-S", "63", "-p", std::to_string(hiddenSectors)};
        if (!label.empty())
            arguments.insert(arguments.end(), {"-L", platform::Utf16ToUtf8(label)});
        if (clusterSize)
            arguments.insert(arguments.end(), {"-c", std::to_string(clusterSize)});
        arguments.push_back(scratch);
        std::shared_lock<std::shared_mutex> io;
        if (disk)
            io = std::shared_lock(disk->lock);
        if (RunQuietly(arguments) && CopyWritten(fd, *store) && store->Sync())
            result = ERROR_SUCCESS;
    }
    close(fd);
    unlink(scratch.c_str());
    return result;
}

// ---- The service -------------------------------------------------------------------------------------------

void WriteInfo(protocol::Writer& out, const DiskInfo& info) {
    out.U32(info.number);
    out.Text(platform::Utf8ToUtf16(info.image));
    out.Text(info.identity.hardwareId);
    out.Text(info.identity.serial);
    out.Text(info.identity.vendor);
    out.Text(info.identity.product);
    out.Text(info.identity.revision);
    out.Text(info.identity.friendlyName);
    out.U32(info.identity.removable ? 1 : 0);
    out.U64(info.size);
    out.Text(info.instanceId);
    out.Text(info.parentId);
    out.Text(info.hardwareId);
    out.Text(info.interfacePath);
    out.Text(info.letters);
}

int32_t Serve(int fd, const uint8_t* request, size_t size, std::vector<uint8_t>& reply) {
    protocol::Reader in(request, size);
    protocol::Writer out;
    const auto op = static_cast<service::Op>(in.U32());
    switch (op) {
    case service::Op::Plug: {
        const std::string image = platform::Utf16ToUtf8(in.Text());
        DiskIdentity id;
        id.hardwareId = in.Text();
        id.serial = in.Text();
        id.vendor = in.Text();
        id.product = in.Text();
        id.revision = in.Text();
        id.friendlyName = in.Text();
        id.removable = in.U32() != 0;
        if (in.Failed())
            return STATUS_INVALID_PARAMETER;
        DWORD number = 0;
        DWORD result;
        {
            std::lock_guard lock(g_lock);
            result = PlugLocked(image, id, 0, number);
        }
        out.U32(result);
        out.U32(number);
        break;
    }
    case service::Op::Unplug: {
        const DWORD number = in.U32();
        const bool surprise = in.U32() != 0;
        if (in.Failed())
            return STATUS_INVALID_PARAMETER;
        std::vector<std::u16string> asked;
        if (!surprise && !AskRemoval(number, asked)) {
            out.U32(ERROR_DEVICE_IN_USE);
            break;
        }
        std::lock_guard lock(g_lock);
        out.U32(UnplugLocked(number, surprise, true, asked));
        break;
    }
    case service::Op::List: {
        std::lock_guard lock(g_lock);
        out.U32(ERROR_SUCCESS);
        out.U32(static_cast<uint32_t>(g_disks.size()));
        for (const auto& [number, disk] : g_disks) {
            DiskInfo info = disk->info;
            info.letters = LettersOf(*disk);
            WriteInfo(out, info);
        }
        break;
    }
    case service::Op::Subscribe:
        ServeSubscriber(fd);
        return STATUS_PENDING;
    case service::Op::Broadcast: {
        DeviceNotice notice;
        notice.event = in.U32();
        notice.kind = kTypeVolume;
        notice.unitMask = in.U32();
        notice.flags = in.U32();
        notice.excludeProcess = in.U32();
        if (in.Failed())
            return STATUS_INVALID_PARAMETER;
        Announce(notice);
        out.U32(ERROR_SUCCESS);
        break;
    }
    case service::Op::Format: {
        const uint32_t letter = in.U32();
        const std::u16string label = in.Text();
        const uint32_t clusterSize = in.U32();
        if (in.Failed() || letter >= 26)
            return STATUS_INVALID_PARAMETER;
        std::lock_guard lock(g_lock);
        out.U32(FormatLocked(static_cast<int>(letter), label, clusterSize));
        break;
    }
    case service::Op::SetMountPoint: {
        const uint32_t letter = in.U32();
        const std::u16string volumeName = in.Text();
        if (in.Failed() || letter >= 26)
            return STATUS_INVALID_PARAMETER;
        std::lock_guard lock(g_lock);
        out.U32(SetMountPointLocked(static_cast<int>(letter), volumeName));
        break;
    }
    case service::Op::DeleteMountPoint: {
        const uint32_t letter = in.U32();
        if (in.Failed() || letter >= 26)
            return STATUS_INVALID_PARAMETER;
        std::lock_guard lock(g_lock);
        out.U32(DeleteMountPointLocked(static_cast<int>(letter)));
        break;
    }
    default:
        return STATUS_INVALID_PARAMETER;
    }
    reply.insert(reply.end(), out.Data().begin(), out.Data().end());
    return STATUS_SUCCESS;
}

// A drive letter that another driver gives one of its devices (a virtual disk) comes and goes as a volume, as the
// letters of the disks here do. The letters of the disks here are announced with their volumes already.
void OnDriveLetter(int drive, const std::u16string& target, bool created) {
    static const std::u16string own = u"\\Device\\Harddisk";
    if (target.size() >= own.size() && platform::EqualsNoCase(std::u16string_view(target).substr(0, own.size()), own))
        return;
    DeviceNotice notice;
    notice.event = created ? kArrival : kRemoveComplete;
    notice.kind = kTypeVolume;
    notice.unitMask = 1u << drive;
    Announce(notice);
}

void Start() {
    platform::kernel::SetDriveLetterObserver(OnDriveLetter);
    platform::kernel::LoadDriverEntry(u"disk", DriverEntryOfDisks);
    StartForeignVolumes();
    std::lock_guard lock(g_lock);
    for (const SavedDisk& saved : LoadList()) {
        DWORD number = 0;
        PlugLocked(saved.image, saved.identity, saved.number, number);
    }
}

void Stop() {
    platform::kernel::SetDriveLetterObserver(nullptr);
    StopForeignVolumes();
    CloseSubscribers();
    std::lock_guard lock(g_lock);
    std::vector<DWORD> numbers;
    for (const auto& [number, disk] : g_disks)
        numbers.push_back(number);
    // The disks stay in the list: the next host plugs them again.
    for (DWORD number : numbers)
        UnplugLocked(number, true, false);
}

const bool g_registered = (platform::kernel::RegisterHostService("disks", Start, Serve, Stop), true);

} // namespace

} // namespace platform::devices
