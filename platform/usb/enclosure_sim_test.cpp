// The bridge-chip libraries over simulated enclosures: image disks plugged with a bridge's id, the libraries loaded
// as a program loads them, the button pressed and the LEDs read as the tool does.
#include "platform/usb/bridgechips.h"
#include "platform/usb/enclosure_sim.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/module.h"
#include "platform/devices/disks.h"
#include "platform/fs/paths.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

using platform::usb::ChipState;

constexpr uint64_t kDiskBytes = 16ull << 20;

class BridgeChips : public ::testing::Test {
protected:
    void SetUp() override {
        platform::kernel::EnableDeviceAccess();
        // The libraries lie in a folder of their own: give it a letter, as programs name modules by Windows paths.
        platform::fs::DriveInfo drive;
        drive.letter = u'P';
        drive.hostRoot = USB_MODULE_DIR;
        ASSERT_TRUE(platform::fs::SetDrive(drive));
        m_jm = LoadLibraryW(u"P:\\JMUsbDll.dll");
        m_sp = LoadLibraryW(u"P:\\sp216.dll");
        ASSERT_NE(m_jm, nullptr);
        ASSERT_NE(m_sp, nullptr);
    }
    void TearDown() override {
        FreeLibrary(m_jm);
        FreeLibrary(m_sp);
        EXPECT_TRUE(platform::kernel::StopHost());
    }

    // An image with one partition the system mounts, plugged under the bridge `hardwareId`.
    DWORD Plug(const char* name, const char16_t* hardwareId) {
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
        DWORD number = 0;
        EXPECT_EQ(platform::devices::PlugDisk(path, id, number), ERROR_SUCCESS);
        return number;
    }

    template <class F> F Entry(HMODULE module, const char* name) {
        auto* f = reinterpret_cast<F>(GetProcAddress(module, name));
        EXPECT_NE(f, nullptr) << name;
        return f;
    }

    platform::machine::ScopedTestMachine m_machine;
    HMODULE m_jm = nullptr;
    HMODULE m_sp = nullptr;
};

// A command record for the JMicron chip: register write 0xFE, read 0xFD, button query 0xFF.
void Record(BYTE* record, BYTE kind, uint16_t reg) {
    std::memset(record, 0, platform::usb::kAtacbRecordSize);
    record[0] = kind == 0xFE ? 0 : 1;
    record[4] = 2;
    record[10] = static_cast<BYTE>(reg >> 8);
    record[12] = static_cast<BYTE>(reg);
    record[19] = kind;
}

TEST_F(BridgeChips, JMicronDrivesRegistersLedsAndTheButton) {
    const DWORD disk = Plug("jm.img", u"USB\\VID_152D&PID_2338");
    Plug("plain.img", u"USB\\VID_1234&PID_5678"); // no enclosure
    platform::usb::SimulatedEnclosure enclosure;
    ASSERT_TRUE(platform::usb::FindEnclosure(disk, enclosure));
    ASSERT_EQ(enclosure.letters.size(), 1u);
    const BYTE letter = static_cast<BYTE>(enclosure.letters[0]);

    BYTE letters[26] = {};
    EXPECT_EQ(Entry<platform::usb::GetDriveListFn>(m_jm, "GetDriveList")(letters, 26), 1);
    EXPECT_EQ(letters[0], letter);
    BYTE ids[32 * platform::usb::kUsbIdEntrySize] = {};
    EXPECT_EQ(Entry<platform::usb::GetUsbIdListFn>(m_jm, "GetUsbIdList")(ids, 32), 1);
    EXPECT_STREQ(reinterpret_cast<char*>(ids), "USB\\VID_152D&PID_2338");
    BYTE inquiry[40] = {};
    ASSERT_EQ(Entry<platform::usb::JMInquiryFn>(m_jm, "JMInquiry")(letter, inquiry, 40), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry), 4), "j335");

    auto atacb = Entry<platform::usb::ATACBExecuteFn>(m_jm, "ATACBExecute");
    // The secure-disk LED of this chip lights when its bit of the data register is cleared.
    EXPECT_FALSE(platform::usb::Leds(enclosure).secure);
    BYTE record[24];
    BYTE data[2] = {static_cast<BYTE>(~0x08 | 0x80), 0xFF};
    Record(record, 0xFE, 0x7058);
    ASSERT_EQ(atacb(letter, record, data, 2, 0), 0);
    EXPECT_TRUE(platform::usb::Leds(enclosure).secure);
    Record(record, 0xFD, 0x7058);
    BYTE read[2] = {};
    ASSERT_EQ(atacb(letter, record, read, 2, 0), 0);
    // What was written, but bit 0x04: the button's line, up while nobody presses.
    EXPECT_EQ(read[0] | read[1] << 8, 0xFFF3);

    // A press is seen by exactly as many queries as it was held for.
    ASSERT_EQ(platform::usb::PressButton(disk, 2), ERROR_SUCCESS);
    for (int expected : {0x04, 0x04, 0x00}) {
        Record(record, 0xFF, 0);
        record[8] = 0xEE;
        ASSERT_EQ(atacb(letter, record, read, 2, 0), 0);
        EXPECT_EQ(record[8], 0);
        EXPECT_EQ(read[0], expected);
    }
    // Failures a test asks for, then the chip answers again; a letter of no JMicron enclosure never answers.
    ASSERT_TRUE(platform::usb::UpdateChip(enclosure.key, [](ChipState& s) { s.failInquiry = 2; }));
    auto jmInquiry = Entry<platform::usb::JMInquiryFn>(m_jm, "JMInquiry");
    EXPECT_NE(jmInquiry(letter, inquiry, 40), 0);
    EXPECT_NE(jmInquiry(letter, inquiry, 40), 0);
    EXPECT_EQ(jmInquiry(letter, inquiry, 40), 0);
    EXPECT_NE(jmInquiry('Q', inquiry, 40), 0);
}

TEST_F(BridgeChips, SunplusPinsAreLedsAndButton) {
    const DWORD disk = Plug("sp.img", u"USB\\VID_6A5E&PID_0003");
    platform::usb::SimulatedEnclosure enclosure;
    ASSERT_TRUE(platform::usb::FindEnclosure(disk, enclosure));
    EXPECT_EQ(enclosure.family, platform::usb::ChipFamily::SunPlus);
    auto enumerate = Entry<platform::usb::EnumDeviceHandleFn>(m_sp, "EnumDeviceHandle");
    auto gpio = Entry<platform::usb::SetGetGpioIndexFn>(m_sp, "Set_Get_GPIO_Index");
    BYTE record[52] = {};
    std::memcpy(record, "6A5E", 4);
    std::memcpy(record + 12, "0002", 4);
    EXPECT_EQ(enumerate(record, 1, 0), -1);
    std::memcpy(record + 12, "0003", 4);
    const intptr_t device = enumerate(record, 1, 0);
    ASSERT_NE(device, -1);
    ASSERT_NE(device, 0);
    BYTE on = 1;
    ASSERT_NE(gpio(2, 1, &on, device), 0);
    ASSERT_NE(gpio(1, 1, &on, device), 0);
    auto leds = platform::usb::Leds(enclosure);
    EXPECT_TRUE(leds.secure && leds.ready);
    BYTE off = 0;
    ASSERT_NE(gpio(1, 1, &off, device), 0);
    EXPECT_FALSE(platform::usb::Leds(enclosure).secure);
    BYTE pin0 = 9;
    ASSERT_NE(gpio(0, 0, &pin0, device), 0);
    EXPECT_EQ(pin0, 0);
    ASSERT_EQ(platform::usb::PressButton(disk), ERROR_SUCCESS);
    ASSERT_NE(gpio(0, 0, &pin0, device), 0);
    EXPECT_EQ(pin0, 1);
    EXPECT_EQ(gpio(0, 0, &pin0, -1), 0);
    Entry<platform::usb::CloseDeviceFn>(m_sp, "CloseDevice")();
}

} // namespace
