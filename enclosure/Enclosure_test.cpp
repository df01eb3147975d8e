// The companion program's parts on simulated enclosures: keywords, the chip classes, the device manager thread,
// and the automation object's letters.
#include "enclosure/EnclosureApp.h"
#include "enclosure/EnclosureDevManager.h"
#include "enclosure/EnclosureServ.h"
#include "enclosure/JMicronDev.h"
#include "enclosure/SunPlusDev.h"

#include "platform/base/errors.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/com/objbase.h"
#include "platform/fs/paths.h"
#include "platform/registry/registry.h"
#include "platform/system/processes.h"
#include "platform/base/machine.h"
#include "platform/devices/disks.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/host.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"
#include "platform/usb/enclosure_sim.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using platform::usb::ChipState;

TEST(EnclosureKeywords, MatchedOverTheirLengthAfterASwitchAndCutOut) {
    struct Case {
        const char16_t* line;
        const char16_t* keyword;
        bool found;
        const char16_t* rest;
    } cases[] = {
        {u"-launch_kovra_only", u"launch_kovra", true, u"_only"},
        {u"/config_disk -x", u"config_disk", true, u" -x"},
        {u"quit", u"quit", false, u"quit"},          // no switch character
        {u"-QUIT", u"quit", false, u"-QUIT"},        // case matters
        {u"-Embedding /quit", u"quit", true, u"-Embedding "},
    };
    for (const Case& c : cases) {
        CEnclosureApp app;
        app.m_strCommandLine = c.line;
        EXPECT_EQ(app.ConsumeKeyword(c.keyword), c.found ? TRUE : FALSE) << int(c.keyword[0]);
        EXPECT_EQ(app.m_strCommandLine, CString(c.rest));
    }
}

TEST(EnclosureServ, DriveIndexesNameLettersOrEveryLetterAndNothingElse) {
    EXPECT_EQ(CEnclosureServ::LetterOfIndex(0), ENCLOSURE_ALL_LETTERS);
    EXPECT_EQ(CEnclosureServ::LetterOfIndex(4), 'E');
    EXPECT_EQ(CEnclosureServ::LetterOfIndex(25), 'Z');
    // Out of range is no letter at all, never "every letter" by wrapping round.
    for (long bad : {26L, 190L, -1L, -66L})
        EXPECT_EQ(CEnclosureServ::LetterOfIndex(bad), 0) << bad;
}

constexpr uint64_t kDiskBytes = 16ull << 20;

// Collects the reports a window receives.
struct Reports {
    std::vector<std::pair<WPARAM, LPARAM>> received;
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_ENCLOSURE_REPORT) {
            auto* self = reinterpret_cast<Reports*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
            self->received.emplace_back(wParam, lParam);
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
};

class EnclosureChips : public ::testing::Test {
protected:
    void SetUp() override {
        platform::kernel::EnableDeviceAccess();
        WNDCLASSW wc{};
        wc.lpfnWndProc = &Reports::Proc;
        wc.lpszClassName = u"EnclosureTestReports";
        RegisterClassW(&wc);
        m_hwnd = CreateWindowExW(0, u"EnclosureTestReports", u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
        SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&m_reports));
    }
    void TearDown() override {
        DestroyWindow(m_hwnd);
        EXPECT_TRUE(platform::kernel::StopHost());
    }

    // An image with one mounted partition, plugged under the bridge `hardwareId`; its letter.
    BYTE Plug(const char* name, const char16_t* hardwareId, DWORD& disk) {
        const std::string path = m_machine.Scratch("disks") + "/" + name;
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        EXPECT_EQ(ftruncate(fd, static_cast<off_t>(kDiskBytes)), 0);
        uint8_t sector[512] = {};
        const uint32_t signature = 0x5A454456, first = 2048, count = 8192;
        std::memcpy(sector + 440, &signature, 4);
        sector[446 + 4] = 0x06;
        std::memcpy(sector + 446 + 8, &first, 4);
        std::memcpy(sector + 446 + 12, &count, 4);
        sector[510] = 0x55;
        sector[511] = 0xAA;
        EXPECT_EQ(pwrite(fd, sector, sizeof sector, 0), 512);
        close(fd);
        platform::devices::DiskIdentity id;
        id.hardwareId = hardwareId;
        EXPECT_EQ(platform::devices::PlugDisk(path, id, disk), ERROR_SUCCESS);
        platform::usb::SimulatedEnclosure e;
        EXPECT_TRUE(platform::usb::FindEnclosure(disk, e));
        m_key = e.key;
        return e.letters.empty() ? 0 : static_cast<BYTE>(e.letters[0]);
    }

    ChipState Chip() {
        ChipState s;
        platform::usb::ReadChip(m_key, s);
        return s;
    }

    // Takes messages until `condition` holds; false after a generous deadline.
    bool PumpUntil(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    bool Received(LPARAM value) const {
        for (const auto& r : m_reports.received)
            if (r.second == value)
                return true;
        return false;
    }

    platform::machine::ScopedTestMachine m_machine;
    HWND m_hwnd = nullptr;
    Reports m_reports;
    std::string m_key;
};

TEST_F(EnclosureChips, JMicronLedWritesFollowTheChipType) {
    DWORD disk = 0;
    const BYTE letter = Plug("jm.img", u"USB\\VID_152D&PID_2338", disk);
    ASSERT_NE(letter, 0);
    {
        CJMicronDev dev;
        ASSERT_TRUE(dev.Init(1));
        EXPECT_EQ(dev.GetChipType(letter), 1);
        EXPECT_EQ(dev.IsValid(), 1);
        platform::usb::SimulatedEnclosure e;
        ASSERT_TRUE(platform::usb::FindEnclosure(disk, e));
        EXPECT_TRUE(platform::usb::Leds(e).ready); // the open argument lit it
        EXPECT_TRUE(dev.SetSecureLed(letter, TRUE));
        EXPECT_TRUE(platform::usb::Leds(e).secure);
        // A letter this chip does not serve gets nothing written.
        const int writes = Chip().ledWrites;
        EXPECT_FALSE(dev.SetSecureLed('Q', TRUE));
        EXPECT_EQ(Chip().ledWrites, writes);
    }
    // A chip of the 0x7030 kind writes the bits themselves, and their 16-bit complement to switch off.
    ASSERT_TRUE(platform::usb::UpdateChip(m_key, [](ChipState& s) { s.inquiry = "j329"; }));
    {
        CJMicronDev dev;
        ASSERT_TRUE(dev.Init(0));
        EXPECT_EQ(dev.GetChipType(letter), 6);
        EXPECT_TRUE(dev.SetSecureLed(letter, FALSE));
        EXPECT_EQ(Chip().registers[0x7030], 0xFFF7);
    }
    // "j336" chips, and chips whose register reads 0xD204, never get an LED write.
    for (const char* inquiry : {"j336", "j329"}) {
        ASSERT_TRUE(platform::usb::UpdateChip(m_key, [&](ChipState& s) {
            s.inquiry = inquiry;
            s.registers[0x7030] = 0xD204;
            s.ledWrites = 0;
        }));
        CJMicronDev dev;
        ASSERT_TRUE(dev.Init(1));
        EXPECT_EQ(dev.GetChipType(letter), std::string(inquiry) == "j336" ? 2 : 7);
        EXPECT_TRUE(dev.SetBothLeds(ENCLOSURE_ALL_LETTERS, TRUE));
        EXPECT_EQ(Chip().ledWrites, 0) << inquiry;
    }
}

TEST_F(EnclosureChips, AButtonAlreadyDownAtEnumerationNeverCounts) {
    DWORD disk = 0;
    const BYTE letter = Plug("jm.img", u"USB\\VID_6A5E&PID_0001", disk);
    ASSERT_NE(letter, 0);
    CJMicronDev dev;
    ASSERT_TRUE(dev.Init(0));
    EXPECT_FALSE(dev.IsButtonPressed());
    ASSERT_EQ(platform::usb::PressButton(disk), ERROR_SUCCESS);
    EXPECT_TRUE(dev.IsButtonPressed());
    EXPECT_FALSE(dev.IsButtonPressed());
    // Held while the chip is enumerated: the saved value carries the bit, and presses are not believed.
    ASSERT_EQ(platform::usb::PressButton(disk, 3), ERROR_SUCCESS);
    dev.Enumerate();
    EXPECT_FALSE(dev.IsButtonPressed());
}

TEST_F(EnclosureChips, SunplusWithoutADeviceCallsNothing) {
    CSunPlusDev dev;
    ASSERT_TRUE(dev.Init(1)); // the library loads; no device is plugged
    EXPECT_FALSE(dev.SetSecureLed('E', TRUE));
    EXPECT_FALSE(dev.IsButtonPressed());
    EXPECT_TRUE(dev.MatchHardwareId(u"usb\\vid_6a5e&pid_0002"));
    EXPECT_FALSE(dev.MatchHardwareId(u""));
    CString name;
    WORD vendor = 0, product = 0;
    BYTE byte = 0;
    ASSERT_TRUE(dev.GetModelInfo(1, name, vendor, product, byte));
    EXPECT_EQ(name, CString(u"Kovra-C2"));
    EXPECT_EQ(byte, 0x7C);
    EXPECT_FALSE(dev.GetModelInfo(2, name, vendor, product, byte));
}

TEST_F(EnclosureChips, TheDeviceThreadRunsCommandsReportsThemAndPollsTheButton) {
    DWORD disk = 0;
    const BYTE letter = Plug("sp.img", u"USB\\VID_6A5E&PID_0002", disk);
    ASSERT_NE(letter, 0);
    platform::usb::SimulatedEnclosure e;
    ASSERT_TRUE(platform::usb::FindEnclosure(disk, e));
    CEnclosureDevManager manager;
    ASSERT_TRUE(manager.Start(m_hwnd, 2, 1, TRUE, TRUE));
    EXPECT_EQ(manager.GetDevCount(), 2);
    EXPECT_TRUE(platform::usb::Leds(e).ready);
    ASSERT_TRUE(manager.BindLetter(letter, u"USB\\VID_6A5E&PID_0002"));
    EXPECT_FALSE(manager.BindLetter('[', u"USB\\VID_6A5E&PID_0002"));

    // A command for an unbound letter, and one for a letter past 'Z', still report.
    manager.Queue('Q', ENCLOSURE_CMD_SECURE_ON, m_hwnd, 70);
    manager.Queue(0, ENCLOSURE_CMD_SECURE_ON, m_hwnd, 71);
    manager.Queue(ENCLOSURE_ALL_LETTERS, ENCLOSURE_CMD_SECURE_ON, m_hwnd, 7);
    ASSERT_TRUE(PumpUntil([&] { return Received(7); }));
    EXPECT_TRUE(Received(70));
    EXPECT_TRUE(Received(71));
    EXPECT_TRUE(platform::usb::Leds(e).secure);

    // A button held over two polls reports in each.
    m_reports.received.clear();
    ASSERT_EQ(platform::usb::PressButton(disk, 2), ERROR_SUCCESS);
    ASSERT_TRUE(PumpUntil([&] {
        int presses = 0;
        for (const auto& r : m_reports.received)
            presses += r.second == 2;
        return presses == 2;
    }));

    // The models of both families, reported row by row into the caller's record.
    ENCLOSURE_MODEL_INFO model;
    std::vector<CString> names;
    m_reports.received.clear();
    manager.Queue(0, ENCLOSURE_CMD_LIST_MODELS, m_hwnd, reinterpret_cast<LPARAM>(&model));
    ASSERT_TRUE(PumpUntil([&] { return m_reports.received.size() == 4; }));
    for (const auto& r : m_reports.received)
        EXPECT_EQ(r.first, static_cast<WPARAM>(ENCLOSURE_CMD_LIST_MODELS));

    // Stopping switches every bound chip's LEDs off.
    EXPECT_TRUE(manager.Stop());
    const auto leds = platform::usb::Leds(e);
    EXPECT_FALSE(leds.secure);
    EXPECT_FALSE(leds.ready);
}

} // namespace

namespace {

// The real program, started by the system for its automation object as the main program's first call does.
class EnclosureProgram : public EnclosureChips {
protected:
    void SetUp() override {
        EnclosureChips::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        // The programs' folder gets a letter: programs are named by Windows paths.
        WCHAR self[2048];
        const DWORD n = GetModuleFileNameW(nullptr, self, 2048);
        const std::u16string path(self, n);
        const size_t slash = path.find_last_of(u"\\/");
        platform::fs::DriveInfo drive;
        drive.letter = u'P';
        drive.hostRoot = platform::Utf16ToUtf8(path.substr(0, slash));
        ASSERT_TRUE(platform::fs::SetDrive(drive));
    }
    void TearDown() override {
        // A second start with "quit" ends the running instance.
        Start(u"P:\\Enclosure -quit");
        EXPECT_TRUE(PumpUntil([] { return FindProcessByName(u"Enclosure") == 0; }));
        CoUninitialize();
        EnclosureChips::TearDown();
    }

    void Start(std::u16string commandLine) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &info));
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
};

TEST_F(EnclosureProgram, TheFirstCallStartsItAndTurnsTheSecureLedOnAndOff) {
    DWORD disk = 0;
    ASSERT_NE(Plug("jm.img", u"USB\\VID_152D&PID_2338", disk), 0);
    platform::usb::SimulatedEnclosure e;
    ASSERT_TRUE(platform::usb::FindEnclosure(disk, e));
    // What the installer leaves: the class registered with the program as its local server.
    HKEY key = nullptr;
    const std::u16string server = u"P:\\Enclosure";
    ASSERT_EQ(RegCreateKeyW(HKEY_CLASSES_ROOT, u"CLSID\\{F50B40AA-B60B-478D-BAC4-A369959047A8}\\LocalServer32", &key),
              ERROR_SUCCESS);
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                   static_cast<DWORD>((server.size() + 1) * 2));
    RegCloseKey(key);
    const std::u16string clsid = u"{F50B40AA-B60B-478D-BAC4-A369959047A8}";
    ASSERT_EQ(RegCreateKeyW(HKEY_CLASSES_ROOT, u"Enclosure.Application\\CLSID", &key), ERROR_SUCCESS);
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid.c_str()),
                   static_cast<DWORD>((clsid.size() + 1) * 2));
    RegCloseKey(key);

    COleDispatchDriver driver;
    ASSERT_TRUE(driver.CreateDispatch(_T("Enclosure.Application")));
    EXPECT_NE(FindProcessByName(u"Enclosure"), 0u);
    static const BYTE params[] = VTS_I4 VTS_I2;
    long result = -1;
    driver.InvokeHelper(1, DISPATCH_METHOD, VT_I4, &result, params, 0L, static_cast<short>(1));
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(PumpUntil([&] { return platform::usb::Leds(e).secure; }));
    EXPECT_TRUE(platform::usb::Leds(e).controllable);
    driver.InvokeHelper(1, DISPATCH_METHOD, VT_I4, &result, params, 0L, static_cast<short>(0));
    EXPECT_TRUE(PumpUntil([&] { return !platform::usb::Leds(e).secure; }));
    // The other methods answer 0 and do nothing.
    static const BYTE one[] = VTS_I4;
    driver.InvokeHelper(3, DISPATCH_METHOD, VT_I4, &result, one, 7L);
    EXPECT_EQ(result, 0);
    // The program rewrote its registry entries at its start: the ProgID names the class.
    CLSID found{};
    EXPECT_EQ(CLSIDFromProgID(u"Enclosure.Application", &found), S_OK);
    EXPECT_EQ(found, CEnclosureServ::guid);
}

} // namespace
