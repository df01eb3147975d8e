// The formatting worker: a quick NTFS format of a plugged disk's partition through the system's format library, and
// the ends a format can take with a library that misbehaves (loaded in the system library's place).
#include "shared/DiskTestSupport.h"
#include "storage/FormatVolume.h"

#include "platform/afx/Wnd.h"
#include "platform/base/module.h"
#include "platform/base/sync.h"
#include "platform/fs/paths.h"
#include "platform/fs/volumes.h"

#include <cstring>
#include <utility>

namespace {

using storagetest::PumpUntil;

// A window that records the worker's messages.
class CFormatWatcher : public CWnd {
public:
    CFormatWatcher() { CreateEx(0, nullptr, u"watcher", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr); }
    ~CFormatWatcher() override { DestroyWindow(); }

    std::vector<std::pair<WPARAM, LPARAM>> messages;

    int Finished() const {
        int n = 0;
        for (const auto& m : messages)
            n += m.first == FORMAT_FINISHED;
        return n;
    }

protected:
    LRESULT OnFormatNotify(WPARAM wParam, LPARAM lParam) {
        messages.emplace_back(wParam, lParam);
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CFormatWatcher, CWnd)
ON_MESSAGE(WM_FORMAT_NOTIFY, OnFormatNotify)
END_MESSAGE_MAP()

FORMAT_INFO Request(WCHAR letter, HWND window) {
    FORMAT_INFO info{};
    memcpy(info.szFileSystem, u"NTFS", sizeof(u"NTFS"));
    memcpy(info.szLabel, u"Public", sizeof(u"Public"));
    info.szRoot[0] = letter;
    info.szRoot[1] = u':';
    info.szRoot[2] = u'\\';
    info.dwQuickFormat = 1;
    info.hNotifyWnd = window;
    return info;
}

class FormatTest : public storagetest::StorageTest {};

// The misbehaving library, loaded by the test so that it takes the system library's place while loaded.
class StubLibrary {
public:
    explicit StubLibrary(const platform::machine::ScopedTestMachine&) {
        platform::fs::DriveInfo drive;
        drive.letter = u'S';
        drive.hostRoot = FMIFS_STUB_DIR;
        EXPECT_TRUE(platform::fs::SetDrive(drive));
        m_module = LoadLibraryW(u"S:\\FMIFS.DLL");
        EXPECT_NE(m_module, nullptr);
        setMode = reinterpret_cast<void (*)(int)>(GetProcAddress(m_module, "StubSetMode"));
        release = reinterpret_cast<void (*)()>(GetProcAddress(m_module, "StubRelease"));
    }
    ~StubLibrary() { FreeLibrary(m_module); }
    void (*setMode)(int) = nullptr;
    void (*release)() = nullptr;

private:
    HMODULE m_module = nullptr;
};

} // namespace

TEST_F(FormatTest, AQuickFormatReportsProgressThenAHundredThenSuccess) {
    const DWORD number = Plug(NewImage("public.img", 48ull << 20, 0x5A454456, {{0x07, 63, 90000}}));
    const std::u16string letters = LettersOf(number);
    ASSERT_EQ(letters.size(), 1u);
    CFormatWatcher watcher;
    static FORMAT_INFO info = Request(letters[0], watcher.GetSafeHwnd());
    FORMAT_INFO* handle = nullptr;
    ASSERT_EQ(StartFormat(&info, &handle), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(handle, &info);
    ASSERT_TRUE(PumpUntil([&] { return watcher.Finished() > 0; }, std::chrono::seconds(120)));
    CancelFormat(&info); // after the end: only the flags and the finished thread's handle

    ASSERT_GE(watcher.messages.size(), 3u);
    const auto& last = watcher.messages.back();
    EXPECT_EQ(last, std::make_pair(FORMAT_FINISHED, LPARAM{1}));
    EXPECT_EQ(watcher.messages[watcher.messages.size() - 2], std::make_pair(FORMAT_PROGRESS, LPARAM{100}));
    for (size_t i = 0; i + 1 < watcher.messages.size(); ++i)
        EXPECT_EQ(watcher.messages[i].first, FORMAT_PROGRESS);
    EXPECT_EQ(watcher.Finished(), 1);

    const std::u16string root = std::u16string(1, letters[0]) + u":\\";
    WCHAR label[MAX_PATH] = {};
    WCHAR fileSystem[MAX_PATH] = {};
    ASSERT_TRUE(GetVolumeInformationW(root.c_str(), label, MAX_PATH, nullptr, nullptr, nullptr, fileSystem, MAX_PATH));
    EXPECT_EQ(std::u16string(fileSystem), u"NTFS");
    EXPECT_EQ(std::u16string(label), u"Public");
}

TEST_F(FormatTest, ALibraryThatEndsWithoutSayingHowStillEndsTheFormatOnce) {
    StubLibrary stub(machine);
    ASSERT_TRUE(stub.setMode);
    stub.setMode(1);
    CFormatWatcher watcher;
    static FORMAT_INFO info = Request(u'E', watcher.GetSafeHwnd());
    FORMAT_INFO* handle = nullptr;
    ASSERT_EQ(StartFormat(&info, &handle), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(PumpUntil([&] { return watcher.Finished() > 0; }));
    ASSERT_EQ(WaitForSingleObject(info.hThread, 20000), WAIT_OBJECT_0);
    PumpUntil([] { return true; });
    const std::vector<std::pair<WPARAM, LPARAM>> expected = {{FORMAT_PROGRESS, 50}, {FORMAT_FINISHED, 0}};
    EXPECT_EQ(watcher.messages, expected);
    CancelFormat(&info);
}

TEST_F(FormatTest, ACancelWhileTheLibraryWorksEndsItAsAFailureOnce) {
    StubLibrary stub(machine);
    ASSERT_TRUE(stub.setMode);
    stub.setMode(2);
    CFormatWatcher watcher;
    static FORMAT_INFO info = Request(u'E', watcher.GetSafeHwnd());
    FORMAT_INFO* handle = nullptr;
    ASSERT_EQ(StartFormat(&info, &handle), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(PumpUntil([&] { return !watcher.messages.empty(); }));
    // The library is at work: the cancel is asked for, the library goes on and meets it at its next report.
    info.dwCancel = 1;
    stub.release();
    CancelFormat(&info);
    EXPECT_EQ(info.hThread, nullptr);
    EXPECT_EQ(info.dwDone, 1u);
    ASSERT_TRUE(PumpUntil([&] { return watcher.Finished() > 0; }));
    PumpUntil([] { return true; });
    const std::vector<std::pair<WPARAM, LPARAM>> expected = {{FORMAT_PROGRESS, 10}, {FORMAT_FINISHED, 0}};
    EXPECT_EQ(watcher.messages, expected);
    // A second cancel only sets the flags.
    CancelFormat(&info);
    EXPECT_EQ(info.dwCancel, 1u);
}
