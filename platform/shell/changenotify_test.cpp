// Change notifications: folders and files changed on disk, drives coming and going, reports of programs.
#include "platform/shell/changenotify.h"
#include "platform/shell/shell_test_support.h"
#include "platform/shell/shellfolder.h"

#include "platform/base/clock.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr UINT kNotifyMessage = 0x0400 + 511;

struct Seen {
    LONG event;
    std::u16string path1, path2;
};

std::u16string PathOf(PCIDLIST_ABSOLUTE pidl) {
    WCHAR path[2048] = {};
    return pidl && SHGetPathFromIDListW(pidl, path) ? std::u16string(path) : std::u16string();
}

LRESULT CALLBACK RecorderProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kNotifyMessage) {
        auto* seen = reinterpret_cast<std::vector<Seen>*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        auto* pair = reinterpret_cast<PIDLIST_ABSOLUTE*>(wParam);
        seen->push_back(Seen{static_cast<LONG>(lParam), PathOf(pair[0]), PathOf(pair[1])});
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

class Recorder {
public:
    Recorder() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = RecorderProc;
        wc.lpszClassName = u"ShellChangeRecorder";
        RegisterClassW(&wc);
        m_hwnd = CreateWindowExW(0, u"ShellChangeRecorder", u"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&m_seen));
    }
    ~Recorder() {
        if (m_id)
            SHChangeNotifyDeregister(m_id);
        DestroyWindow(m_hwnd);
    }
    // Registers for everything below the list (the desktop when null), both sources.
    void Register(PCIDLIST_ABSOLUTE pidl, bool recursive = true) {
        PIDLIST_ABSOLUTE desktop = nullptr;
        SHGetSpecialFolderLocationDesktop(&desktop);
        SHChangeNotifyEntry entry{pidl ? pidl : desktop, recursive};
        m_id = SHChangeNotifyRegister(m_hwnd, SHCNRF_InterruptLevel | SHCNRF_ShellLevel | SHCNRF_RecursiveInterrupt,
                                      SHCNE_ALLEVENTS, kNotifyMessage, 1, &entry);
        ILFree(desktop);
        ASSERT_NE(m_id, 0u);
    }
    void Deregister() {
        EXPECT_TRUE(SHChangeNotifyDeregister(m_id));
        m_id = 0;
    }
    // Serves messages until a change of that kind and path has arrived; false when none came in time.
    bool WaitFor(LONG event, const std::u16string& path1, const std::u16string& path2 = {}) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            for (const Seen& s : m_seen)
                if (s.event == event && s.path1 == path1 && (path2.empty() || s.path2 == path2))
                    return true;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
        }
        return false;
    }
    bool Saw(LONG event, const std::u16string& path1) const {
        for (const Seen& s : m_seen)
            if (s.event == event && s.path1 == path1)
                return true;
        return false;
    }
    HWND Window() const { return m_hwnd; }

private:
    static void SHGetSpecialFolderLocationDesktop(PIDLIST_ABSOLUTE* pidl) {
        *pidl = SHSimpleIDListFromPath(u"C:\\");
        ILRemoveLastID(*pidl);
        ILRemoveLastID(*pidl);
    }
    HWND m_hwnd = nullptr;
    ULONG m_id = 0;
    std::vector<Seen> m_seen;
};

// Lists a folder through the shell, as a tree does when it shows it.
void List(const std::u16string& path) {
    IShellFolder* desktop = nullptr;
    SHGetDesktopFolder(&desktop);
    PIDLIST_RELATIVE pidl = nullptr;
    std::u16string text = path;
    ASSERT_EQ(desktop->ParseDisplayName(nullptr, nullptr, text.data(), nullptr, &pidl, nullptr), S_OK);
    IShellFolder* folder = nullptr;
    ASSERT_EQ(desktop->BindToObject(pidl, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder)), S_OK);
    IEnumIDList* e = nullptr;
    ASSERT_EQ(folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &e), S_OK);
    e->Release();
    folder->Release();
    ILFree(pidl);
    desktop->Release();
}

using ShellChangeTest = shelltest::ShellTest;

TEST_F(ShellChangeTest, FoldersAndFilesChangedOnDiskArriveOnce) {
    Recorder recorder;
    recorder.Register(nullptr);
    m_drive.MakeFolder("watched");
    List(m_drive.Path());
    List(m_drive.Path("watched"));

    std::filesystem::create_directory(m_drive.Host("watched/new"));
    EXPECT_TRUE(recorder.WaitFor(SHCNE_MKDIR, m_drive.Path("watched/new")));
    std::filesystem::rename(m_drive.Host("watched/new"), m_drive.Host("watched/renamed"));
    EXPECT_TRUE(recorder.WaitFor(SHCNE_RENAMEFOLDER, m_drive.Path("watched/new"), m_drive.Path("watched/renamed")));
    std::filesystem::remove(m_drive.Host("watched/renamed"));
    EXPECT_TRUE(recorder.WaitFor(SHCNE_RMDIR, m_drive.Path("watched/renamed")));

    std::ofstream(m_drive.Host("watched/a.txt")) << "hello";
    EXPECT_TRUE(recorder.WaitFor(SHCNE_CREATE, m_drive.Path("watched/a.txt")));
    EXPECT_TRUE(recorder.WaitFor(SHCNE_UPDATEITEM, m_drive.Path("watched/a.txt")));
    std::filesystem::rename(m_drive.Host("watched/a.txt"), m_drive.Host("watched/b.txt"));
    EXPECT_TRUE(recorder.WaitFor(SHCNE_RENAMEITEM, m_drive.Path("watched/a.txt"), m_drive.Path("watched/b.txt")));
    // Moving out of every watched folder is a deletion.
    std::filesystem::rename(m_drive.Host("watched/b.txt"), m_machine.Scratch("elsewhere") + "/b.txt");
    EXPECT_TRUE(recorder.WaitFor(SHCNE_DELETE, m_drive.Path("watched/b.txt")));
}

TEST_F(ShellChangeTest, DrivesOfTheDriveTableComeAndGo) {
    Recorder recorder;
    recorder.Register(nullptr);
    platform::fs::DriveInfo r;
    r.letter = u'R';
    r.hostRoot = m_machine.Scratch("r");
    r.kind = platform::fs::DriveKind::Removable;
    ASSERT_TRUE(platform::fs::SetDrive(r));
    EXPECT_TRUE(recorder.WaitFor(SHCNE_DRIVEADD, u"R:\\"));
    ASSERT_TRUE(platform::fs::RemoveDrive(u'R'));
    EXPECT_TRUE(recorder.WaitFor(SHCNE_DRIVEREMOVED, u"R:\\"));
}

TEST_F(ShellChangeTest, LettersOfDevicesComeAndGoWhenTheirVolumesAreAnnounced) {
    // A device's letter lives outside the table's file, as a plugged disk's volume does.
    // The provider stays registered for the rest of the process: it holds what it reads.
    auto plugged = std::make_shared<std::atomic<bool>>(false);
    platform::fs::RegisterDriveProvider([plugged, root = m_machine.Scratch("device")] {
        std::vector<platform::fs::DriveInfo> drives;
        if (!*plugged)
            return drives;
        platform::fs::DriveInfo q;
        q.letter = u'Q';
        q.hostRoot = root;
        q.kind = platform::fs::DriveKind::Removable;
        drives.push_back(q);
        return drives;
    });
    Recorder recorder;
    recorder.Register(nullptr);
    *plugged = true;
    platform::fs::NotifyDrivesChanged();
    EXPECT_TRUE(recorder.WaitFor(SHCNE_DRIVEADD, u"Q:\\"));
    *plugged = false;
    platform::fs::NotifyDrivesChanged();
    EXPECT_TRUE(recorder.WaitFor(SHCNE_DRIVEREMOVED, u"Q:\\"));
}

TEST_F(ShellChangeTest, RegistrationsSeeOnlyTheirScopeAndNothingAfterTheyEnd) {
    m_drive.MakeFolder("one");
    m_drive.MakeFolder("two");
    PIDLIST_ABSOLUTE one = SHSimpleIDListFromPath(m_drive.Path("one").c_str());
    Recorder narrow, wide, ended;
    narrow.Register(one, false);
    wide.Register(nullptr);
    ended.Register(nullptr);
    ILFree(one);
    ended.Deregister();
    List(m_drive.Path("one"));
    List(m_drive.Path("two"));

    std::filesystem::create_directory(m_drive.Host("two/x"));
    ASSERT_TRUE(wide.WaitFor(SHCNE_MKDIR, m_drive.Path("two/x")));
    std::filesystem::create_directory(m_drive.Host("one/y"));
    ASSERT_TRUE(wide.WaitFor(SHCNE_MKDIR, m_drive.Path("one/y")));
    ASSERT_TRUE(narrow.WaitFor(SHCNE_MKDIR, m_drive.Path("one/y")));
    EXPECT_FALSE(narrow.Saw(SHCNE_MKDIR, m_drive.Path("two/x")));
    EXPECT_FALSE(ended.Saw(SHCNE_MKDIR, m_drive.Path("one/y")));

    // What programs report reaches the shell-level registrations, by path or by list.
    SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHW | SHCNF_FLUSH, m_drive.Path("one").c_str(), nullptr);
    EXPECT_TRUE(wide.Saw(SHCNE_UPDATEDIR, m_drive.Path("one")));
    SHChangeNotify(SHCNE_ATTRIBUTES, SHCNF_PATHW, m_drive.Path("one").c_str(), nullptr);
    EXPECT_TRUE(wide.WaitFor(SHCNE_ATTRIBUTES, m_drive.Path("one")));
}

TEST(ShellChangeRegistrationTest, RefusesWhatItCannotDeliver) {
    PIDLIST_ABSOLUTE desktop = SHSimpleIDListFromPath(u"C:\\");
    ILRemoveLastID(desktop);
    ILRemoveLastID(desktop);
    SHChangeNotifyEntry entry{desktop, TRUE};
    EXPECT_EQ(SHChangeNotifyRegister(nullptr, SHCNRF_ShellLevel, SHCNE_ALLEVENTS, kNotifyMessage, 1, &entry), 0u);
    HWND hwnd = CreateWindowExW(0, u"STATIC", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(SHChangeNotifyRegister(hwnd, SHCNRF_ShellLevel | SHCNRF_NewDelivery, SHCNE_ALLEVENTS, kNotifyMessage, 1,
                                     &entry),
              0u);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_FALSE(SHChangeNotifyDeregister(12345));
    DestroyWindow(hwnd);
    ILFree(desktop);
}

} // namespace
