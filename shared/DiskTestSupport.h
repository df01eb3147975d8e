// Test support of the storage devices: a fresh machine per test, image disks plugged in with a device identity,
// and a message pump with a deadline for the notices that the kernel host delivers to windows.
#pragma once

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/devices/disks.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/host.h"
#include "platform/ui/message.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace storagetest {

constexpr const char16_t* kEnclosureBridge = u"USB\\VID_152D&PID_2338";

struct PartitionSpec {
    uint8_t type;
    uint32_t firstSector;
    uint32_t sectors;
};

// Pumps the thread's messages until the condition holds; false when the deadline passed first.
inline bool PumpUntil(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

// Runs `work` on another thread while this one serves its windows (a removal asks them first); its result.
template <class F> auto PumpWhile(F work) -> decltype(work()) {
    auto result = std::async(std::launch::async, work);
    EXPECT_TRUE(PumpUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    return result.get();
}

class StorageTest : public ::testing::Test {
protected:
    void SetUp() override { platform::kernel::EnableDeviceAccess(); }
    void TearDown() override {
        EXPECT_TRUE(platform::kernel::StopHost());
        // The host writes its error output beside its socket: a sanitizer report there is a fault of the host.
        std::ifstream errors(platform::machine::PathOf("kernel/host.err"));
        const std::string text((std::istreambuf_iterator<char>(errors)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text.find("Sanitizer"), std::string::npos) << text;
        EXPECT_EQ(text.find("runtime error"), std::string::npos) << text;
    }

    // A sparse image of `bytes` with a master boot record of the signature and partitions (none: a blank disk).
    std::string NewImage(const char* name, uint64_t bytes, uint32_t signature = 0,
                         const std::vector<PartitionSpec>& partitions = {}) {
        const std::string path = machine.Scratch("disks") + "/" + name;
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(ftruncate(fd, static_cast<off_t>(bytes)), 0);
        if (!partitions.empty() || signature) {
            uint8_t mbr[512] = {};
            memcpy(mbr + 440, &signature, 4);
            for (size_t i = 0; i < partitions.size() && i < 4; ++i) {
                uint8_t* entry = mbr + 446 + 16 * i;
                entry[4] = partitions[i].type;
                memcpy(entry + 8, &partitions[i].firstSector, 4);
                memcpy(entry + 12, &partitions[i].sectors, 4);
            }
            mbr[510] = 0x55;
            mbr[511] = 0xAA;
            EXPECT_EQ(pwrite(fd, mbr, sizeof(mbr), 0), 512);
        }
        close(fd);
        return path;
    }

    DWORD Plug(const std::string& image, const char16_t* hardwareId = kEnclosureBridge, const char16_t* serial = u"",
               bool removable = false) {
        platform::devices::DiskIdentity id;
        id.hardwareId = hardwareId;
        id.serial = serial;
        id.removable = removable;
        DWORD number = 0;
        EXPECT_EQ(platform::devices::PlugDisk(image, id, number), ERROR_SUCCESS);
        return number;
    }

    // The letters of the plugged disk's volumes.
    std::u16string LettersOf(DWORD number) {
        for (const auto& disk : platform::devices::ListDisks()) {
            if (disk.number == number)
                return disk.letters;
        }
        return {};
    }

    std::vector<uint8_t> ReadImage(const std::string& image, uint64_t offset, size_t size) {
        std::vector<uint8_t> data(size);
        const int fd = open(image.c_str(), O_RDONLY);
        EXPECT_EQ(pread(fd, data.data(), size, static_cast<off_t>(offset)), static_cast<ssize_t>(size));
        close(fd);
        return data;
    }

    platform::machine::ScopedTestMachine machine;
};

} // namespace storagetest
