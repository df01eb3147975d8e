// Device enumeration and notices as the drive monitor uses them: a window registered for the disk interface class
// and for a disk's handle sees arrivals, is asked before a removal, can refuse it, and sees the removal complete.
#include "platform/devices/dbt.h"
#include "platform/devices/disks.h"
#include "platform/devices/setupapi.h"
#include "platform/devices/volumenames.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/volumes.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/host.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"
#include "platform/ui/winuser_constants.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct Seen {
    UINT event;
    DWORD type;
    std::u16string name; // interface path
    DWORD unitMask = 0;
    HDEVNOTIFY notify = nullptr;
};

std::vector<Seen> g_seen;
std::function<LRESULT(UINT, const DEV_BROADCAST_HDR*)> g_answer;

LRESULT CALLBACK WatcherProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != WM_DEVICECHANGE)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    Seen seen{static_cast<UINT>(wParam), header ? header->dbch_devicetype : 0, {}};
    if (header && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE)
        seen.name = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header)->dbcc_name;
    if (header && header->dbch_devicetype == DBT_DEVTYP_VOLUME)
        seen.unitMask = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(header)->dbcv_unitmask;
    if (header && header->dbch_devicetype == DBT_DEVTYP_HANDLE)
        seen.notify = reinterpret_cast<const DEV_BROADCAST_HANDLE*>(header)->dbch_hdevnotify;
    g_seen.push_back(seen);
    return g_answer ? g_answer(static_cast<UINT>(wParam), header) : TRUE;
}

// Pumps the thread's messages until the condition holds; false when the deadline passed first.
bool PumpUntil(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}

bool SawEvent(UINT event, DWORD type) {
    for (const auto& s : g_seen) {
        if (s.event == event && s.type == type)
            return true;
    }
    return false;
}

class NoticesTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::kernel::EnableDeviceAccess();
        g_seen.clear();
        g_answer = nullptr;
        WNDCLASSW wc{};
        wc.lpfnWndProc = WatcherProc;
        wc.lpszClassName = u"DeviceWatcher";
        RegisterClassW(&wc);
        window = CreateWindowExW(0, u"DeviceWatcher", u"watcher", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                 nullptr, nullptr);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        DestroyWindow(window);
        g_answer = nullptr;
        EXPECT_TRUE(platform::kernel::StopHost());
    }

    std::string NewImage(const char* name, uint64_t bytes = 32ull << 20) {
        const std::string path = machine.Scratch("disks") + "/" + name;
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        EXPECT_EQ(ftruncate(fd, static_cast<off_t>(bytes)), 0);
        // One NTFS-type partition from sector 63 to the end, as a partitioned stick would come.
        uint8_t mbr[512] = {};
        const uint32_t first = 63, count = static_cast<uint32_t>(bytes / 512 - 63);
        mbr[446 + 4] = 0x07;
        memcpy(mbr + 446 + 8, &first, 4);
        memcpy(mbr + 446 + 12, &count, 4);
        const uint32_t signature = 0x12345678;
        memcpy(mbr + 440, &signature, 4);
        mbr[510] = 0x55;
        mbr[511] = 0xAA;
        EXPECT_EQ(pwrite(fd, mbr, sizeof(mbr), 0), 512);
        close(fd);
        return path;
    }

    DWORD Plug(const std::string& image, const char16_t* serial) {
        platform::devices::DiskIdentity id;
        id.hardwareId = u"USB\\VID_152D&PID_2338";
        id.serial = serial;
        DWORD number = 0;
        EXPECT_EQ(platform::devices::PlugDisk(image, id, number), ERROR_SUCCESS);
        return number;
    }

    platform::machine::ScopedTestMachine machine;
    HWND window = nullptr;
};

} // namespace

TEST_F(NoticesTest, EnumerationFindsPluggedDisksWithTheirTree) {
    Plug(NewImage("a.img"), u"AAA1");
    Plug(NewImage("b.img"), u"BBB2");
    HDEVINFO set =
        SetupDiGetClassDevsW(&GUID_DEVINTERFACE_DISK, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    std::vector<std::u16string> paths, parents;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof(info);
    DWORD index = 0;
    for (; SetupDiEnumDeviceInfo(set, index, &info); ++index) {
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof(iface);
        ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, &info, &GUID_DEVINTERFACE_DISK, 0, &iface));
        EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, &info, &GUID_DEVINTERFACE_DISK, 1, &iface));
        DWORD size = 0;
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, &size, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        std::vector<uint8_t> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, size, nullptr, nullptr));
        paths.push_back(detail->DevicePath);

        BYTE property[512];
        DWORD type = 0;
        EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_HARDWAREID, &type, nullptr, 0, &size));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_HARDWAREID, &type, property, sizeof(property),
                                                      nullptr));
        EXPECT_EQ(type, 7u);
        EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(property)), u"USBSTOR\\DiskGeneric_Disk_Image______1.00");
        ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_FRIENDLYNAME, &type, property, sizeof(property),
                                                      nullptr));
        EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(property)), u"Generic Disk Image USB Device");
        EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_REMOVAL_POLICY, &type, property,
                                                       sizeof(property), nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);

        WCHAR id[256];
        ASSERT_TRUE(SetupDiGetDeviceInstanceIdW(set, &info, id, 256, nullptr));
        EXPECT_EQ(std::u16string(id).rfind(u"USBSTOR\\DISK&VEN_GENERIC&PROD_DISK_IMAGE&REV_1.00\\", 0), 0u);
        DEVINST parent = 0;
        ASSERT_EQ(CM_Get_Parent(&parent, info.DevInst, 0), CR_SUCCESS);
        ULONG length = 0;
        ASSERT_EQ(CM_Get_Device_ID_Size(&length, parent, 0), CR_SUCCESS);
        std::vector<WCHAR> parentId(length + 1);
        EXPECT_EQ(CM_Get_Device_IDW(parent, parentId.data(), length - 1, 0), CR_BUFFER_SMALL);
        ASSERT_EQ(CM_Get_Device_IDW(parent, parentId.data(), length + 1, 0), CR_SUCCESS);
        parents.push_back(parentId.data());
    }
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(index, 2u);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    ASSERT_EQ(parents.size(), 2u);
    EXPECT_EQ(parents[0], u"USB\\VID_152D&PID_2338\\AAA1");
    EXPECT_EQ(parents[1], u"USB\\VID_152D&PID_2338\\BBB2");
    // Each interface path opens its disk.
    for (const auto& path : paths) {
        HANDLE disk =
            CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(disk, INVALID_HANDLE_VALUE);
        CloseHandle(disk);
    }
    // A class without devices gives an empty set.
    HDEVINFO empty =
        SetupDiGetClassDevsW(&GUID_DEVINTERFACE_VOLUME, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(empty, 0, &info));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    SetupDiDestroyDeviceInfoList(empty);
}

TEST_F(NoticesTest, ArrivalQueryRefusalAndRemovalReachTheWindow) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = GUID_DEVINTERFACE_DISK;
    HDEVNOTIFY interfaceNotify = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    ASSERT_NE(interfaceNotify, nullptr) << GetLastError();

    const DWORD number = Plug(NewImage("watched.img"), u"W1");
    ASSERT_TRUE(PumpUntil([] { return SawEvent(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE); }));
    ASSERT_TRUE(PumpUntil([] { return SawEvent(DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME); }));
    const auto disks = platform::devices::ListDisks();
    ASSERT_EQ(disks.size(), 1u);
    ASSERT_EQ(disks[0].letters.size(), 1u);
    const int letter = disks[0].letters[0] - u'A';
    for (const auto& s : g_seen) {
        if (s.type == DBT_DEVTYP_DEVICEINTERFACE) {
            EXPECT_EQ(s.name, disks[0].interfacePath);
        }
        if (s.type == DBT_DEVTYP_VOLUME) {
            EXPECT_EQ(s.unitMask, 1u << letter);
        }
    }

    // The monitor's way: the disk opened by its interface path, with a handle notice.
    HANDLE disk = CreateFileW(disks[0].interfacePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(disk, INVALID_HANDLE_VALUE);
    DEV_BROADCAST_HANDLE handleFilter{};
    handleFilter.dbch_size = sizeof(handleFilter);
    handleFilter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    handleFilter.dbch_handle = disk;
    HDEVNOTIFY handleNotify = RegisterDeviceNotificationW(window, &handleFilter, DEVICE_NOTIFY_WINDOW_HANDLE);
    ASSERT_NE(handleNotify, nullptr) << GetLastError();

    // Refused: the disk stays, and the window hears that the removal failed.
    g_seen.clear();
    g_answer = [](UINT event, const DEV_BROADCAST_HDR*) -> LRESULT {
        return event == DBT_DEVICEQUERYREMOVE ? BROADCAST_QUERY_DENY : TRUE;
    };
    auto refused = std::async(std::launch::async, [&] { return platform::devices::UnplugDisk(number); });
    ASSERT_TRUE(PumpUntil([&] { return refused.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_EQ(refused.get(), platform::devices::ERROR_DEVICE_IN_USE);
    ASSERT_TRUE(PumpUntil([] { return SawEvent(DBT_DEVICEQUERYREMOVEFAILED, DBT_DEVTYP_HANDLE); }));
    EXPECT_TRUE(SawEvent(DBT_DEVICEQUERYREMOVE, DBT_DEVTYP_HANDLE));
    EXPECT_EQ(platform::devices::ListDisks().size(), 1u);

    // Allowed: the window lets go of its handle when asked, and the removal completes.
    g_seen.clear();
    g_answer = [&](UINT event, const DEV_BROADCAST_HDR*) -> LRESULT {
        if (event == DBT_DEVICEQUERYREMOVE && disk != INVALID_HANDLE_VALUE) {
            CloseHandle(disk);
            disk = INVALID_HANDLE_VALUE;
        }
        return TRUE;
    };
    auto allowed = std::async(std::launch::async, [&] { return platform::devices::UnplugDisk(number); });
    ASSERT_TRUE(PumpUntil([&] { return allowed.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_EQ(allowed.get(), ERROR_SUCCESS);
    ASSERT_TRUE(PumpUntil([] { return SawEvent(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE); }));
    EXPECT_TRUE(SawEvent(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME));
    bool handleRemoved = false;
    for (const auto& s : g_seen) {
        if (s.event == DBT_DEVICEREMOVECOMPLETE && s.type == DBT_DEVTYP_HANDLE)
            handleRemoved = handleRemoved || s.notify == handleNotify;
    }
    EXPECT_TRUE(handleRemoved);
    EXPECT_TRUE(UnregisterDeviceNotification(handleNotify));
    EXPECT_FALSE(UnregisterDeviceNotification(handleNotify));
    EXPECT_TRUE(UnregisterDeviceNotification(interfaceNotify));
}

TEST_F(NoticesTest, VolumeNamesAndMountPointsMoveTheLetter) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = GUID_DEVINTERFACE_DISK;
    ASSERT_NE(RegisterDeviceNotificationW(window, &filter, 0), nullptr);
    Plug(NewImage("named.img"), u"N1");
    const char16_t letter = platform::devices::ListDisks().at(0).letters.at(0);
    const std::u16string root = std::u16string(1, letter) + u":\\";
    WCHAR name[64];
    ASSERT_TRUE(GetVolumeNameForVolumeMountPointW(root.c_str(), name, 64)) << GetLastError();
    const std::u16string volume = name;
    EXPECT_EQ(volume.rfind(u"\\\\?\\Volume{12345678-", 0), 0u) << platform::Utf16ToUtf8(volume);
    // The volume name opens the volume.
    const std::u16string device = volume.substr(0, volume.size() - 1);
    HANDLE byName =
        CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(byName, INVALID_HANDLE_VALUE);
    CloseHandle(byName);

    g_seen.clear();
    ASSERT_TRUE(DeleteVolumeMountPointW(root.c_str()));
    EXPECT_FALSE(GetLogicalDrives() & (1u << (letter - u'A')));
    ASSERT_TRUE(PumpUntil([] { return SawEvent(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME); }));
    const char16_t other = letter == u'Q' ? u'R' : u'Q';
    const std::u16string otherRoot = std::u16string(1, other) + u":\\";
    ASSERT_TRUE(SetVolumeMountPointW(otherRoot.c_str(), volume.c_str())) << GetLastError();
    EXPECT_TRUE(GetLogicalDrives() & (1u << (other - u'A')));
    ASSERT_TRUE(PumpUntil([] { return SawEvent(DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME); }));
    ASSERT_TRUE(GetVolumeNameForVolumeMountPointW(otherRoot.c_str(), name, 64));
    EXPECT_EQ(std::u16string(name), volume);
    // The volume has its letter; a second one is refused, and so is a letter that is not a drive root.
    EXPECT_FALSE(SetVolumeMountPointW(root.c_str(), volume.c_str()));
    EXPECT_FALSE(GetVolumeNameForVolumeMountPointW(u"C:\\folder\\", name, 64));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(NoticesTest, BroadcastOfAVolumeRemovalReachesTopLevelWindows) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = GUID_DEVINTERFACE_DISK;
    ASSERT_NE(RegisterDeviceNotificationW(window, &filter, 0), nullptr);
    DEV_BROADCAST_VOLUME volume{sizeof(volume), DBT_DEVTYP_VOLUME, 0, 1u << 25, DBTF_NET};
    DWORD recipients = BSM_ALLCOMPONENTS;
    EXPECT_GT(BroadcastSystemMessageW(BSF_NOHANG, &recipients, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                                      reinterpret_cast<LPARAM>(&volume)),
              0);
    ASSERT_TRUE(PumpUntil([] { return SawEvent(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME); }));
    EXPECT_EQ(g_seen.back().unitMask, 1u << 25);
    // The sender's own windows are left out when it asks.
    g_seen.clear();
    EXPECT_GT(BroadcastSystemMessageW(BSF_IGNORECURRENTTASK, &recipients, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                                      reinterpret_cast<LPARAM>(&volume)),
              0);
    // A second broadcast that does reach the window tells that the first one, which came before it, was not
    // delivered here.
    volume.dbcv_unitmask = 1u << 24;
    BroadcastSystemMessageW(0, &recipients, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                            reinterpret_cast<LPARAM>(&volume));
    ASSERT_TRUE(PumpUntil([] { return !g_seen.empty(); }));
    EXPECT_EQ(g_seen.front().unitMask, 1u << 24);
}
