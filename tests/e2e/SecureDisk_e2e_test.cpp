// End-to-end: the secure disk of an enclosure disk managed from the real program's own dialogs, on the test's own
// X display with the mouse and the keyboard. Opened with its password from Manage Secure Disk, its letter shows its
// files; closed, the letter goes; a new password refuses the old one and opens the same files; and a remembered
// password opens it at the next start of the program without asking.
#include "app/AppTestSupport.h"

#include "shared/DiskTestSupport.h"
#include "shared/PhysicalDrive.h"
#include "storage/FormatVolume.h"
#include "storage/ZentraManager.h"
#include "storage/ZentraObj.h"

#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/base/sync.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"
#include "platform/registry/registry.h"
#include "platform/res/resources.h"
#include "platform/ui/dialog.h"
#include "platform/ui/ui_test_support.h"
#include "platform/ui/window.h"
#include "platform/ui/xvfb_test_support.h"

#include "E2eSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sys/wait.h>

namespace {

using namespace e2e;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char16_t* kLabel = u"Kovra Secure Disk";
constexpr const char* kFirstPassword = "firstsecret1";
constexpr const char* kWrongPassword = "wrongsecret2";
constexpr const char* kNewPassword = "newsecret345";
constexpr const char* kExpert = "Kovra - Expert Mode";
constexpr const char* kManage = "Manage Secure Disk";
constexpr const char* kOpen = "Open Secure Disk";
constexpr const char* kClose = "Close Secure Disk";
constexpr const char* kChange = "Change Password";
constexpr const char* kRemember = "Remember Password Option";
constexpr const char* kMessage = "Kovra"; // the caption of the program's message boxes
constexpr uint32_t kReturn = 0xFF0D;

// The files the secure disk holds.
const std::vector<std::pair<std::u16string, std::string>>& Files() {
    static const std::vector<std::pair<std::u16string, std::string>> files = [] {
        std::vector<std::pair<std::u16string, std::string>> list;
        std::string big;
        for (size_t n = 0; n < 70001; ++n)
            big.push_back(static_cast<char>('a' + n * 7 % 26));
        list.emplace_back(u"notes.txt", "what stays in the secure disk");
        list.emplace_back(u"docs\\big.txt", big);
        list.emplace_back(u"docs\\inner\\name with spaces.txt", "spaces");
        return list;
    }();
    return files;
}

bool WriteText(const std::u16string& path, const std::string& content) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
                    written == content.size();
    return CloseHandle(file) && ok;
}

std::string ReadText(const std::u16string& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<error " + std::to_string(GetLastError()) + ">";
    std::string content;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read)
        content.append(buffer, read);
    CloseHandle(file);
    return content;
}

// A window that waits for the end of a format.
class CFormatEnd : public CWnd {
public:
    CFormatEnd() { CreateEx(0, nullptr, u"format", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr); }
    ~CFormatEnd() override { DestroyWindow(); }
    std::optional<LPARAM> result;

protected:
    LRESULT OnFormatNotify(WPARAM wParam, LPARAM lParam) {
        if (wParam == FORMAT_FINISHED)
            result = lParam;
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CFormatEnd, CWnd)
ON_MESSAGE(WM_FORMAT_NOTIFY, OnFormatNotify)
END_MESSAGE_MAP()

bool FormatNtfs(WCHAR letter) {
    CFormatEnd window;
    static FORMAT_INFO info;
    info = FORMAT_INFO{};
    std::u16string(u"NTFS").copy(info.szFileSystem, 4);
    std::u16string(kLabel).copy(info.szLabel, 259);
    info.szRoot[0] = letter;
    info.szRoot[1] = u':';
    info.szRoot[2] = u'\\';
    info.dwQuickFormat = 1;
    info.hNotifyWnd = window.GetSafeHwnd();
    FORMAT_INFO* handle = nullptr;
    if (StartFormat(&info, &handle) != ERROR_SUCCESS)
        return false;
    const bool ended = storagetest::PumpUntil([&] { return window.result.has_value(); }, 120s);
    if (info.hThread) {
        WaitForSingleObject(info.hThread, INFINITE);
        CloseHandle(info.hThread);
    }
    return ended && window.result == 1;
}

// Where the dialogs have the controls the user clicks, in client coordinates of their dialogs: each dialog built
// here from the program's own template.
struct Layout {
    POINT manage = {};                                  // the System page's Manage Secure Disk, in Expert Mode
    POINT open = {}, change = {}, close = {}, exit = {}; // Manage Secure Disk
    POINT password = {}, remember = {}, openOk = {}, openCancel = {}; // Open Secure Disk
    POINT closeOk = {};                                 // Close Secure Disk
    POINT oldPassword = {}, newPassword = {}, confirmation = {}, changeOk = {}; // Change Password
    RECT passwordEdit = {};
    bool ok = false;
};

RECT ClientRect(HWND dialog, HWND control) {
    RECT rc{};
    GetWindowRect(control, &rc);
    POINT topLeft{rc.left, rc.top}, bottomRight{rc.right, rc.bottom};
    ScreenToClient(dialog, &topLeft);
    ScreenToClient(dialog, &bottomRight);
    return RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}

POINT Middle(const RECT& rc) {
    return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

Layout Measure(HMODULE resources) {
    Layout layout;
    layout.ok = true;
    const auto measure = [&](int dialogId, const std::function<void(HWND)>& take) {
        HWND dialog = CreateDialogParamW(resources, MAKEINTRESOURCEW(dialogId), nullptr, QuietDialogProc, 0);
        if (!dialog) {
            layout.ok = false;
            return;
        }
        take(dialog);
        DestroyWindow(dialog);
    };
    const auto at = [](HWND dialog, int id) { return Middle(ClientRect(dialog, GetDlgItem(dialog, id))); };
    measure(900, [&](HWND expert) {
        // The System page stands at (1, 98) of the Expert Mode dialog.
        HWND page = CreateDialogParamW(resources, MAKEINTRESOURCEW(1400), expert, QuietDialogProc, 0);
        if (!page) {
            layout.ok = false;
            return;
        }
        SetWindowPos(page, nullptr, 1, 98, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        layout.manage = Middle(ClientRect(expert, GetDlgItem(page, 1408)));
    });
    measure(2900, [&](HWND h) {
        layout.open = at(h, 2905);
        layout.change = at(h, 2903);
        layout.close = at(h, 2908);
        layout.exit = at(h, 2910);
    });
    measure(2800, [&](HWND h) {
        layout.passwordEdit = ClientRect(h, GetDlgItem(h, 2803));
        layout.password = Middle(layout.passwordEdit);
        // The box's square, at its left end.
        const RECT box = ClientRect(h, GetDlgItem(h, 1245));
        layout.remember = POINT{box.left + 6, (box.top + box.bottom) / 2};
        layout.openOk = at(h, IDOK);
        layout.openCancel = at(h, IDCANCEL);
    });
    measure(2700, [&](HWND h) { layout.closeOk = at(h, IDOK); });
    measure(2600, [&](HWND h) {
        layout.oldPassword = at(h, 2604);
        layout.newPassword = at(h, 2606);
        layout.confirmation = at(h, 2608);
        layout.changeOk = at(h, IDOK);
    });
    return layout;
}

class SecureDiskE2E : public storagetest::StorageTest {
protected:
    void SetUp() override {
        StorageTest::SetUp();
        m_install = machine.Scratch("Kovra");
        e2e::InstallProgram(m_install);
        m_errors = machine.Scratch("output") + "/stderr.txt";
        m_home = machine.Scratch("home");
        // The program's folder, the user's home, the test's own folder (its resources) and the machine's folder, where
        // the driver is dropped before it is installed.
        for (const auto& [letter, root] : {std::pair{u'K', m_install}, std::pair{u'C', m_home},
                                           std::pair{u'B', apptest::ExeFolder()}, std::pair{u'M', machine.Folder()}}) {
            platform::fs::DriveInfo drive;
            drive.letter = letter;
            drive.hostRoot = root;
            ASSERT_TRUE(platform::fs::SetDrive(drive));
        }
        const char* oldHome = std::getenv("HOME");
        m_savedHome = oldHome ? oldHome : "";
        ::setenv("HOME", m_home.c_str(), 1);
        fs::create_directories(fs::path(m_install) / "Config");
        std::ofstream(fs::path(m_install) / "Config" / "Main.ini") << "[Main]\nDriveType=1\n";
        // The program starts in Expert Mode ("RunMode" 1, the four bytes of the integer as REG_SZ data), on its
        // System page.
        const DWORD one = 1, systemTab = 4;
        SetValue(kRootKey, u"RunMode", REG_SZ, &one, 4);
        SetValue(CString(kRootKey) + u"\\Expert", u"CurPage", REG_DWORD, &systemTab, 4);
    }
    void TearDown() override {
        // A program left running is ended, and reported: it would outlive the test.
        for (const pid_t pid : ProgramPids()) {
            ADD_FAILURE() << "Kovra still running at the end of the test, killed";
            ::kill(pid, SIGKILL);
        }
        ::setenv("HOME", m_savedHome.c_str(), 1);
        StorageTest::TearDown();
    }

    std::vector<pid_t> ProgramPids() const {
        std::vector<pid_t> pids;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator("/proc", error)) {
            const std::string name = entry.path().filename();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            std::error_code ignored;
            if (fs::read_symlink(entry.path() / "exe", ignored).string() == m_install + "/Kovra")
                pids.push_back(static_cast<pid_t>(std::stol(name)));
        }
        return pids;
    }

    static void SetValue(const CString& strKey, LPCTSTR lpszName, DWORD dwType, const void* data, DWORD dwSize) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, strKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, lpszName, 0, dwType, static_cast<const BYTE*>(data), dwSize);
        RegCloseKey(hKey);
    }
    static std::optional<DWORD> AutoMount() {
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, CString(kRootKey) + u"\\Expert\\Secure", 0, KEY_READ, &hKey) !=
            ERROR_SUCCESS)
            return std::nullopt;
        DWORD value = 0, size = 4;
        const LONG result = RegQueryValueExW(hKey, u"AutoMount", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
        RegCloseKey(hKey);
        return result == ERROR_SUCCESS ? std::optional<DWORD>(value) : std::nullopt;
    }

    // An enclosure disk whose secure partition holds an NTFS volume with the files, made with the program's own
    // secure-disk manager and formatter in this process and closed again.
    void MakeDisk() {
        const std::string image = NewImage("enclosure.img", 48ull << 20, ZENTRA_DISK_SIGNATURE,
                                           {{0x06, 63, 32768}, {0x63, 63 + 32768 + 63, 49152}});
        m_disk = Plug(image);
        CZentraManager manager;
        ASSERT_TRUE(manager.Init(0x1A));
        ASSERT_TRUE(storagetest::PumpUntil([&] { return manager.GetPhysicalDrive(static_cast<int>(m_disk)) != nullptr; }));
        ASSERT_TRUE(manager.WriteSecureSignature(static_cast<int>(m_disk)));
        const CString partition = manager.GetPhysicalDrive(static_cast<int>(m_disk))->GetSecurePartitionName();
        const std::u16string password = platform::Utf8ToUtf16(kFirstPassword);
        ASSERT_EQ(manager.CreateSecureDisk(u"S:", partition, password.c_str(), ZENTRA_MODE_ENCRYPTED, 0), 0u);
        ASSERT_TRUE(FormatNtfs(u'S'));
        ASSERT_TRUE(CreateDirectoryW(u"S:\\docs", nullptr));
        ASSERT_TRUE(CreateDirectoryW(u"S:\\docs\\inner", nullptr));
        for (const auto& [name, content] : Files())
            ASSERT_TRUE(WriteText(u"S:\\" + name, content)) << platform::Utf16ToUtf8(name);
        ASSERT_EQ(storagetest::PumpWhile([&] { return manager.CloseSecureDisk(u"S:"); }), 0u);
    }

    // The letter of the opened secure disk, by its volume's label.
    static std::optional<WCHAR> SecureLetter() {
        for (const auto& d : platform::fs::Drives())
            if (d.label == kLabel)
                return d.letter;
        return std::nullopt;
    }
    void ExpectFiles(WCHAR letter) const {
        const std::u16string root = std::u16string(1, letter) + u":\\";
        for (const auto& [name, content] : Files())
            EXPECT_EQ(ReadText(root + name), content) << platform::Utf16ToUtf8(name);
    }

    // How many entries of the program's log hold the text.
    static int Logged(const char16_t* text) {
        int count = 0;
        for (const auto& item : apptest::ReadLogItems(u"K:\\Config\\KovraSystem.log"))
            count += item.m_strEntry.Find(text) >= 0;
        return count;
    }
    std::string Errors() const {
        std::ifstream in(m_errors);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static HWND MainDialog() {
        for (HWND hwnd = GetWindow(GetDesktopWindow(), GW_CHILD); hwnd; hwnd = GetWindow(hwnd, GW_HWNDNEXT))
            if (GetPropW(hwnd, kInstanceProperty))
                return hwnd;
        return nullptr;
    }
    // Whether a window of that title shows on the display.
    bool Visible(const char* title) const {
        int x = 0, y = 0;
        return m_input->Origin(title, x, y);
    }

    // The titles of the shown top-level windows, for a failure's message; the screen is kept beside it.
    std::string Windows() const {
        std::string all;
        for (HWND hwnd = GetWindow(GetDesktopWindow(), GW_CHILD); hwnd; hwnd = GetWindow(hwnd, GW_HWNDNEXT)) {
            WCHAR text[128] = {};
            GetWindowTextW(hwnd, text, 128);
            if (IsWindowVisible(hwnd))
                all += "[" + platform::Utf16ToUtf8(text) + "] ";
        }
        if (m_input) {
            fs::create_directories(KOVRA_TEST_ARTIFACTS);
            m_input->Shot(std::string(KOVRA_TEST_ARTIFACTS) + "/securedisk.ppm");
        }
        for (const auto& item : apptest::ReadLogItems(u"K:\\Config\\KovraSystem.log"))
            all += "\nlog: " + platform::Utf16ToUtf8(static_cast<LPCTSTR>(item.m_strEntry));
        return all + "\n" + Errors();
    }

    // Clicks a point of the window titled `title` (once it shows) until `done` holds. A click that came before the
    // window could take it is made again; an action the click started is given long enough to end first.
    bool ClickUntil(const char* title, POINT pt, const std::function<bool()>& done) const {
        for (int attempt = 0; attempt < 4; ++attempt) {
            int x = 0, y = 0;
            if (!uitest::Eventually([&] { return m_input->Origin(title, x, y); }, kDeadline))
                return done();
            m_input->Click(x + pt.x, y + pt.y);
            if (uitest::Eventually(done, 15s))
                return true;
        }
        return false;
    }
    bool Click(const char* title, POINT pt) const {
        int x = 0, y = 0;
        if (!uitest::Eventually([&] { return m_input->Origin(title, x, y); }, kDeadline))
            return false;
        m_input->Click(x + pt.x, y + pt.y);
        return true;
    }
    // Whether the edit at `rc` of that window shows characters: a dark pixel along its middle, right of where the
    // caret stands.
    bool ShowsText(const char* title, const RECT& rc) const {
        int x = 0, y = 0;
        if (!m_input->Origin(title, x, y))
            return false;
        const int row = y + (rc.top + rc.bottom) / 2;
        for (int column = x + rc.left + 6; column < x + rc.left + 40; ++column) {
            const uint32_t c = m_input->Pixel(column, row);
            if (c != ~0u && (c & 0xFF) < 0x80 && ((c >> 8) & 0xFF) < 0x80 && ((c >> 16) & 0xFF) < 0x80)
                return true;
        }
        return false;
    }
    // Clicks into an edit of the window and types the text there.
    void TypeInto(const char* title, POINT pt, const std::string& text) const {
        ASSERT_TRUE(Click(title, pt));
        ASSERT_TRUE(m_input->Type(text));
    }
    // Answers the window of that title (a message box or a confirmation) with Enter, its default button, once a
    // click into it has given it the keyboard; false when none shows or it stays.
    bool Answer(const char* title) const {
        int x = 0, y = 0;
        if (!uitest::Eventually([&] { return m_input->Origin(title, x, y); }, kDeadline))
            return false;
        for (int attempt = 0; attempt < 10 && m_input->Origin(title, x, y); ++attempt) {
            m_input->Click(x + 6, y + 6);
            m_input->Key(kReturn);
            uitest::Eventually([&] { return !m_input->Origin(title, x, y); }, 5s);
        }
        return !m_input->Origin(title, x, y);
    }
    bool AnswerMessage() const { return Answer(kMessage); }

    // In the shown Open Secure Disk: the password typed, "Remember the password of Secure Disk" ticked and
    // confirmed when asked for, OK; the message that follows is answered. True when it was answered.
    bool SubmitOpen(const char* password, bool remember) const {
        for (int attempt = 0; attempt < 4 && !ShowsText(kOpen, m_layout.passwordEdit); ++attempt) {
            TypeInto(kOpen, m_layout.password, password);
            uitest::Eventually([&] { return ShowsText(kOpen, m_layout.passwordEdit); }, 3s);
        }
        if (!ShowsText(kOpen, m_layout.passwordEdit))
            return false;
        int x = 0, y = 0;
        if (remember && !(ClickUntil(kOpen, m_layout.remember, [&] { return m_input->Origin(kRemember, x, y); }) &&
                          Answer(kRemember)))
            return false;
        return ClickUntil(kOpen, m_layout.openOk, [&] { return m_input->Origin(kMessage, x, y); }) && AnswerMessage();
    }
    // A refused password keeps Open Secure Disk, with the password emptied, and opens nothing.
    void ExpectRefused() const {
        ASSERT_TRUE(Visible(kOpen));
        ASSERT_TRUE(uitest::Eventually([&] { return !ShowsText(kOpen, m_layout.passwordEdit); }, kDeadline));
        EXPECT_FALSE(SecureLetter().has_value());
    }
    // Manage Secure Disk, Open, the password, OK: true when the dialog closed on the success's message.
    bool OpenFromManage(const char* password, bool remember) const {
        return ClickUntil(kManage, m_layout.open, [&] { return Visible(kOpen); }) && SubmitOpen(password, remember) &&
               uitest::Eventually([&] { return !Visible(kOpen); }, kDeadline);
    }

    void CloseFromManage() {
        ASSERT_TRUE(ClickUntil(kManage, m_layout.close, [&] { return Visible(kClose); })) << Windows();
        int x = 0, y = 0;
        ASSERT_TRUE(ClickUntil(kClose, m_layout.closeOk, [&] { return m_input->Origin(kMessage, x, y); }));
        ASSERT_TRUE(AnswerMessage());
        ASSERT_TRUE(uitest::Eventually([&] { return !Visible(kClose); }, kDeadline));
        EXPECT_TRUE(uitest::Eventually([] { return !SecureLetter().has_value(); }, kDeadline));
    }

    std::unique_ptr<Kovra> Start() { return std::make_unique<Kovra>(m_install + "/Kovra", m_errors); }

    std::string m_install, m_errors, m_home, m_savedHome;
    DWORD m_disk = 0;
    Layout m_layout;
    std::unique_ptr<XInput> m_input;
};

TEST_F(SecureDiskE2E, OpenCloseANewPasswordAndARememberedOneThroughTheProgramsDialogs) {
    HMODULE resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
    ASSERT_NE(resources, nullptr);
    m_layout = Measure(resources);
    FreeLibrary(resources);
    ASSERT_TRUE(m_layout.ok);
    MakeDisk();
    if (HasFatalFailure())
        return;
    ASSERT_FALSE(SecureLetter().has_value());

    uitest::Xvfb server;
    if (server.Display().empty())
        FAIL() << "no X display for the test: " << server.Error();
    m_input = std::make_unique<XInput>(server.Display());
    ASSERT_TRUE(m_input->Connected());
    ::setenv("WINLAYER_DISPLAY", server.Display().c_str(), 1);
    auto kovra = Start();
    ::unsetenv("WINLAYER_DISPLAY");

    // The start finds the secure disk and offers to open it: Yes shows Open Secure Disk, which the user cancels.
    int x = 0, y = 0;
    ASSERT_TRUE(Answer("Find a secure disk")) << Windows();
    ASSERT_TRUE(uitest::Eventually([&] { return Visible(kOpen); }, kDeadline)) << Windows();
    ASSERT_TRUE(ClickUntil(kOpen, m_layout.openCancel, [&] { return !Visible(kOpen); }));
    EXPECT_FALSE(SecureLetter().has_value());

    // Expert Mode's System page, Manage Secure Disk.
    HWND main = nullptr;
    ASSERT_TRUE(uitest::Eventually([&] { return (main = MainDialog()) != nullptr && Visible(kExpert); }, kDeadline));
    ASSERT_TRUE(ClickUntil(kExpert, m_layout.manage, [&] { return Visible(kManage); })) << Errors();

    // Open: a wrong password is refused ("Password Error!"), the field emptied and the dialog kept; the right one
    // opens the disk on a letter that shows the files.
    ASSERT_TRUE(ClickUntil(kManage, m_layout.open, [&] { return Visible(kOpen); }));
    ASSERT_TRUE(SubmitOpen(kWrongPassword, false));
    ExpectRefused();
    ASSERT_TRUE(SubmitOpen(kFirstPassword, false));
    ASSERT_TRUE(uitest::Eventually([&] { return !Visible(kOpen); }, kDeadline)) << Windows();
    std::optional<WCHAR> letter;
    ASSERT_TRUE(uitest::Eventually([&] { return (letter = SecureLetter()).has_value(); }, kDeadline)) << Errors();
    ExpectFiles(*letter);
    // Not remembered.
    EXPECT_EQ(AutoMount(), std::optional<DWORD>(0));

    // Close: the letter goes.
    CloseFromManage();

    // Change Password needs the disk open. A wrong old password is refused, the right one changes it.
    ASSERT_TRUE(OpenFromManage(kFirstPassword, false)) << Errors();
    ASSERT_TRUE(uitest::Eventually([] { return SecureLetter().has_value(); }, kDeadline)) << Errors();
    // The program learns of the opened disk from the system's notice of its arrival, which may come after the Open
    // dialog has gone; until then Change Password answers that no secure disk is open. That answer is taken and
    // the click made again.
    ASSERT_TRUE(ClickUntil(kManage, m_layout.change, [&] {
        if (Visible(kMessage)) {
            AnswerMessage();
            return false;
        }
        return Visible(kChange);
    })) << Windows();
    const auto fill = [&](const char* oldPassword) {
        TypeInto(kChange, m_layout.oldPassword, oldPassword);
        TypeInto(kChange, m_layout.newPassword, kNewPassword);
        TypeInto(kChange, m_layout.confirmation, kNewPassword);
    };
    fill(kWrongPassword);
    ASSERT_TRUE(ClickUntil(kChange, m_layout.changeOk, [&] { return m_input->Origin(kMessage, x, y); }));
    ASSERT_TRUE(AnswerMessage());
    EXPECT_TRUE(Visible(kChange)) << Windows();
    fill(kFirstPassword);
    ASSERT_TRUE(ClickUntil(kChange, m_layout.changeOk, [&] { return m_input->Origin(kMessage, x, y); }));
    ASSERT_TRUE(AnswerMessage());
    ASSERT_TRUE(uitest::Eventually([&] { return !Visible(kChange); }, kDeadline));
    CloseFromManage();

    // The old password is refused now; the new one opens the same files, and is remembered.
    ASSERT_TRUE(ClickUntil(kManage, m_layout.open, [&] { return Visible(kOpen); }));
    ASSERT_TRUE(SubmitOpen(kFirstPassword, false));
    ExpectRefused();
    ASSERT_TRUE(SubmitOpen(kNewPassword, true));
    ASSERT_TRUE(uitest::Eventually([&] { return !Visible(kOpen); }, kDeadline)) << Windows();
    ASSERT_TRUE(uitest::Eventually([&] { return (letter = SecureLetter()).has_value(); }, kDeadline)) << Errors();
    ExpectFiles(*letter);
    EXPECT_EQ(AutoMount(), std::optional<DWORD>(1));
    // Exit leaves Manage Secure Disk; the program's end closes the secure disk.
    ASSERT_TRUE(ClickUntil(kManage, m_layout.exit, [&] { return !Visible(kManage); }));
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
    EXPECT_EQ(kovra->Wait(), 0) << Errors();
    EXPECT_FALSE(SecureLetter().has_value());
    // The program's log, written as it ended, holds the refusals and the changes.
    EXPECT_EQ(Logged(u"Fail to open secure disk!"), 2);
    EXPECT_EQ(Logged(u"Fail to change password, please try again!"), 1);
    EXPECT_EQ(Logged(u"Change secure disk password successfully."), 1);
    const std::u16string opened = u"Open secure disk " + std::u16string(1, *letter) + u": successfully.";
    const std::u16string closed = u"Close secure disk " + std::u16string(1, *letter) + u": successfully.";
    EXPECT_EQ(Logged(opened.c_str()), 3);
    EXPECT_EQ(Logged(closed.c_str()), 2);

    // The next start with the disk plugged opens it with the remembered password, without a question.
    ::setenv("WINLAYER_DISPLAY", server.Display().c_str(), 1);
    kovra = Start();
    ::unsetenv("WINLAYER_DISPLAY");
    bool asked = false;
    ASSERT_TRUE(uitest::Eventually(
        [&] {
            asked = asked || Visible("Find a secure disk") || Visible(kOpen);
            return (letter = SecureLetter()).has_value();
        },
        kDeadline))
        << Errors();
    ExpectFiles(*letter);
    ASSERT_TRUE(uitest::Eventually([&] { return (main = MainDialog()) != nullptr && Visible(kExpert); }, kDeadline));
    // The automatic opening's own dialog has gone by itself.
    ASSERT_TRUE(uitest::Eventually([&] { return !m_input->Origin(kMessage, x, y); }, kDeadline));
    EXPECT_FALSE(asked || Visible("Find a secure disk") || Visible(kOpen));
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
    EXPECT_EQ(kovra->Wait(), 0) << Errors();
    EXPECT_FALSE(SecureLetter().has_value());
    EXPECT_EQ(Logged(opened.c_str()), 4);
}

} // namespace
