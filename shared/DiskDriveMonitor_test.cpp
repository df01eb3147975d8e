// The drive monitor window following image disks as they are plugged in, asked about and taken away.
#include "shared/DiskDriveMonitor.h"
#include "shared/DiskTestSupport.h"
#include "shared/LogicalDrive.h"
#include "shared/PhysicalDrive.h"

#include "platform/fs/paths.h"

#include <memory>

namespace {

using storagetest::PumpUntil;
using storagetest::PumpWhile;

struct Notice {
    WPARAM code;
    LPARAM index;
    bool stillTracked; // for codes 2 and 3: the departing drive was still in the monitor's maps
};

// A window that records the drive events it receives and, as the owner, answers the removal questions.
class CReceiver : public CWnd {
public:
    explicit CReceiver(CDiskDriveMonitor& monitor) : m_monitor(monitor) {
        CreateEx(0, nullptr, u"receiver", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr);
    }
    ~CReceiver() override { DestroyWindow(); }

    std::vector<Notice> notices;
    LRESULT answer = 0;

    int Count(WPARAM code) const {
        int n = 0;
        for (const auto& notice : notices)
            n += notice.code == code;
        return n;
    }

protected:
    LRESULT OnDriveNotify(WPARAM wParam, LPARAM lParam) {
        bool tracked = true;
        if (wParam == DRIVE_NOTIFY_DISK_REMOVED)
            tracked = m_monitor.GetPhysicalDrive(static_cast<int>(lParam)) != nullptr;
        if (wParam == DRIVE_NOTIFY_VOLUME_REMOVED)
            tracked = m_monitor.GetLogicalDrive(static_cast<int>(lParam)) != nullptr;
        notices.push_back({wParam, lParam, tracked});
        return wParam == DRIVE_NOTIFY_QUERY_REMOVE_DISK || wParam == DRIVE_NOTIFY_QUERY_REMOVE_VOLUME ? answer : 0;
    }
    DECLARE_MESSAGE_MAP()

private:
    CDiskDriveMonitor& m_monitor;
};

BEGIN_MESSAGE_MAP(CReceiver, CWnd)
ON_MESSAGE(WM_DRIVE_NOTIFY, OnDriveNotify)
END_MESSAGE_MAP()

constexpr DWORD kProgramFlags = DRIVE_MONITOR_VOLUMES | DRIVE_MONITOR_ASK_OWNER | DRIVE_MONITOR_NO_REMOVABLE;

class DriveMonitorTest : public storagetest::StorageTest {
protected:
    // An enclosure disk of two NTFS-type partitions.
    std::string TwoVolumeImage(const char* name) {
        return NewImage(name, 64ull << 20, 0x5A454456, {{0x07, 63, 40000}, {0x07, 40320, 60000}});
    }
    void TearDown() override {
        receiver.reset();
        monitor.reset();
        StorageTest::TearDown();
    }
    void Start(DWORD flags = kProgramFlags) {
        monitor = std::make_unique<CDiskDriveMonitor>();
        receiver = std::make_unique<CReceiver>(*monitor);
        monitor->RegisterWindow(receiver.get(), 7);
        ASSERT_TRUE(monitor->Create(flags));
    }

    std::unique_ptr<CDiskDriveMonitor> monitor;
    std::unique_ptr<CReceiver> receiver;
};

} // namespace

TEST_F(DriveMonitorTest, DisksAndVolumesPresentAtCreationAndPluggedLaterAreTracked) {
    const DWORD first = Plug(TwoVolumeImage("first.img"), storagetest::kEnclosureBridge, u"A1");
    Start();
    CPhysicalDrive* disk = monitor->GetPhysicalDrive(static_cast<int>(first));
    ASSERT_NE(disk, nullptr);
    EXPECT_TRUE(disk->GetName() == u"USB\\VID_152D&PID_2338");
    EXPECT_EQ(monitor->GetPhysicalDrivesBitmap(), 1u << first);
    const std::u16string letters = LettersOf(first);
    ASSERT_EQ(letters.size(), 2u);
    for (char16_t letter : letters) {
        CLogicalDrive* volume = monitor->GetLogicalDrive(letter - u'A');
        ASSERT_NE(volume, nullptr);
        EXPECT_EQ(volume->GetParent(), disk);
        EXPECT_TRUE(volume->GetName() == disk->GetName());
        EXPECT_TRUE(monitor->GetLogicalDriveByName(std::u16string(1, letter + 32).c_str()) == volume);
    }
    EXPECT_EQ(disk->GetLogicalDrivesBitmap(), monitor->GetLogicalDrivesBitmap());
    EXPECT_EQ(receiver->Count(DRIVE_NOTIFY_DISK_ADDED), 1);
    EXPECT_EQ(receiver->Count(DRIVE_NOTIFY_VOLUME_ADDED), 2);

    receiver->notices.clear();
    const DWORD second =
        Plug(NewImage("second.img", 32ull << 20, 0x01020304, {{0x07, 63, 30000}}), u"USB\\VID_1234&PID_0001", u"B2");
    ASSERT_TRUE(PumpUntil([&] { return receiver->Count(DRIVE_NOTIFY_VOLUME_ADDED) == 1; }));
    ASSERT_FALSE(receiver->notices.empty());
    EXPECT_EQ(receiver->notices.front().code, DRIVE_NOTIFY_DISK_ADDED);
    EXPECT_EQ(receiver->notices.front().index, static_cast<LPARAM>(second));
    EXPECT_EQ(monitor->GetPhysicalDriveCount(), 2);
    EXPECT_EQ(monitor->GetLogicalDriveCount(), 3);
    EXPECT_FALSE(CDiskDriveMonitor::IsDriveParent(static_cast<int>(second), u"USB\\VID_152D&PID_2338"));
    EXPECT_TRUE(CDiskDriveMonitor::IsDriveParent(static_cast<int>(first), u"usb\\vid_152d&pid_2338"));
}

TEST_F(DriveMonitorTest, TheOwnerMayRefuseARemovalAndOtherwiseEachDriveIsReportedBeforeItGoes) {
    const DWORD number = Plug(TwoVolumeImage("removed.img"), storagetest::kEnclosureBridge, u"R1");
    Start();
    monitor->SetOwnerWindow(receiver.get());
    receiver->answer = 1;
    receiver->notices.clear();
    EXPECT_EQ(PumpWhile([&] { return platform::devices::UnplugDisk(number); }), platform::devices::ERROR_DEVICE_IN_USE);
    ASSERT_TRUE(PumpUntil([&] { return receiver->Count(DRIVE_NOTIFY_VOLUME_REOPENED) == 1; }));
    EXPECT_EQ(receiver->notices.front().code, DRIVE_NOTIFY_QUERY_REMOVE_VOLUME);
    CPhysicalDrive* disk = monitor->GetPhysicalDrive(static_cast<int>(number));
    ASSERT_NE(disk, nullptr);
    EXPECT_NE(disk->GetHandle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(monitor->GetLogicalDriveCount(), 2);

    // Without an owner nobody objects: the handles go, and every drive is reported while it is still tracked.
    monitor->ClearOwnerWindow();
    receiver->notices.clear();
    EXPECT_EQ(PumpWhile([&] { return platform::devices::UnplugDisk(number); }), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(PumpUntil([&] { return receiver->Count(DRIVE_NOTIFY_DISK_REMOVED) == 1; }));
    EXPECT_EQ(receiver->Count(DRIVE_NOTIFY_VOLUME_REMOVED), 2);
    EXPECT_EQ(receiver->Count(DRIVE_NOTIFY_QUERY_REMOVE_VOLUME), 0);
    for (const auto& notice : receiver->notices)
        EXPECT_TRUE(notice.stillTracked) << notice.code;
    EXPECT_EQ(monitor->GetPhysicalDrive(static_cast<int>(number)), nullptr);
    EXPECT_EQ(monitor->GetLogicalDrivesBitmap(), 0u);
    EXPECT_EQ(monitor->GetPhysicalDriveCount(), 0);
    EXPECT_EQ(monitor->GetLogicalDriveCount(), 0);
}

TEST_F(DriveMonitorTest, RemovableMediaAreLeftOutWithTheProgramsFlags) {
    const DWORD stick = Plug(NewImage("stick.img", 32ull << 20, 0x0A0B0C0D, {{0x07, 63, 30000}}),
                             u"USB\\VID_0781&PID_5567", u"S1", true);
    Start();
    EXPECT_EQ(monitor->GetPhysicalDrive(static_cast<int>(stick)), nullptr);
    EXPECT_EQ(monitor->GetLogicalDrivesBitmap(), 0u);
    EXPECT_TRUE(receiver->notices.empty());
    // Without the flag the stick is a disk like any other.
    CDiskDriveMonitor all;
    ASSERT_TRUE(all.Create(DRIVE_MONITOR_VOLUMES));
    EXPECT_NE(all.GetPhysicalDrive(static_cast<int>(stick)), nullptr);
    EXPECT_EQ(all.GetLogicalDriveCount(), 1);
}

TEST_F(DriveMonitorTest, RegisteringTwiceKeepsOneEntry) {
    Start();
    EXPECT_EQ(monitor->GetRegisteredWindowCount(), 1);
    EXPECT_TRUE(monitor->RegisterWindow(receiver.get(), 9));
    EXPECT_EQ(monitor->GetRegisteredWindowCount(), 1);
    EXPECT_TRUE(monitor->UnregisterWindow(receiver.get()));
    EXPECT_FALSE(monitor->UnregisterWindow(receiver.get()));
    EXPECT_EQ(monitor->GetRegisteredWindowCount(), 0);
}

TEST_F(DriveMonitorTest, AFreeLetterIsNeverAOrBAndNoneWhenAllAreTaken) {
    CString drive;
    ASSERT_TRUE(CDiskDriveMonitor::GetFreeDriveLetter(drive));
    EXPECT_GE(drive[0], u'C');
    EXPECT_EQ(drive[1], u':');
    for (WCHAR letter = u'C'; letter <= u'Z'; ++letter) {
        platform::fs::DriveInfo info;
        info.letter = letter;
        info.hostRoot = machine.Scratch(std::string(1, static_cast<char>(letter)));
        ASSERT_TRUE(platform::fs::SetDrive(info));
    }
    EXPECT_FALSE(CDiskDriveMonitor::GetFreeDriveLetter(drive));
    EXPECT_TRUE(drive == u"?:");
}
