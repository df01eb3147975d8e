// The kernel host as programs use it: services, device handles, a second program, and who may connect.
#include "platform/kernel/device_io.h"
#include "platform/kernel/host.h"
#include "platform/kernel/protocol.h"
#include "platform/kernel/shared_channel.h"
#include "platform/kernel/service_store.h"
#include "platform/kernel/services.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"
#include "platform/fs/volumes.h"
#include "platform/testing/scratch_drive.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr ULONG IOCTL_TEST_ECHO = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_TEST_COUNT = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_READ_ACCESS);

// Runs the test client with arguments; returns its exit code and what it printed.
int RunClient(const std::string& arguments, std::string* output = nullptr) {
    const std::string command = std::string(KERNEL_TEST_CLIENT) + " " + arguments;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    std::string text;
    char buffer[256];
    while (size_t n = fread(buffer, 1, sizeof(buffer), pipe))
        text.append(buffer, n);
    const int status = pclose(pipe);
    if (output)
        *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::kernel::EnableDeviceAccess();
        std::filesystem::copy_file(KERNEL_TEST_DRIVER, m_drivers.Host("KernelTest.sys"));
    }
    void TearDown() override {
        EXPECT_TRUE(platform::kernel::StopHost());
        EXPECT_FALSE(platform::kernel::HostRunning()); // The host writes its error output beside its socket: a
                                                       // sanitizer report there is a fault of the host.
        std::ifstream errors(platform::machine::PathOf("kernel/host.err"));
        const std::string text((std::istreambuf_iterator<char>(errors)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text.find("Sanitizer"), std::string::npos) << text;
        EXPECT_EQ(text.find("runtime error"), std::string::npos) << text;
    }

    platform::machine::ScopedTestMachine machine;
    testsupport::ScratchDrive m_drivers{machine, u'T', "drivers"};
};

} // namespace

TEST_F(HostTest, DriverServiceLifecycleAndDeviceAccess) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(OpenServiceW(manager, u"KernelTest", SERVICE_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    SC_HANDLE service = CreateServiceW(manager, u"KernelTest", u"KernelTest", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, u"T:\\KernelTest.sys", nullptr,
                                       nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(CreateServiceW(manager, u"kerneltest", u"KernelTest", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                             SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, u"T:\\KernelTest.sys", nullptr, nullptr,
                             nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_EXISTS);
    EXPECT_FALSE(StartServiceW(manager, 0, nullptr)); // the manager's handle is not a service's
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    SERVICE_STATUS status{};
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_FALSE(platform::kernel::HostRunning()); // asking does not start a host
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);

    ASSERT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
    EXPECT_FALSE(StartServiceW(service, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_ALREADY_RUNNING);
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
    // The driver wrote into its own service key at its start.
    EXPECT_EQ(platform::kernel::service_store::GetString(u"KernelTest", u"loaded"), u"yes");

    HANDLE device = CreateFileW(u"\\\\.\\KernelTest", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
    char echo[4] = {};
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(device, IOCTL_TEST_ECHO, const_cast<char*>("wxyz"), 4, echo, 4, &returned, nullptr));
    EXPECT_EQ(std::string(echo, 4), "zyxw");
    EXPECT_EQ(returned, 4u);
    EXPECT_FALSE(DeviceIoControl(device, IOCTL_TEST_ECHO, const_cast<char*>("wxyz"), 4, echo, 2, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(returned, 4u);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(device, "first", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    char text[6] = {};
    DWORD read = 0;
    OVERLAPPED at{};
    ASSERT_TRUE(ReadFile(device, text, 5, &read, &at));
    EXPECT_STREQ(text, "first");

    // A handle without read access is refused the read-access control code.
    HANDLE bare = CreateFileW(u"\\\\.\\KernelTest", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(bare, INVALID_HANDLE_VALUE);
    ULONG count = 0;
    EXPECT_FALSE(DeviceIoControl(bare, IOCTL_TEST_COUNT, nullptr, 0, &count, sizeof(count), &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CloseHandle(bare));

    // Another program sees the same device and its data, and leaves its own behind after it ended.
    std::string output;
    EXPECT_EQ(RunClient("read 0 5", &output), 0);
    EXPECT_EQ(output, "first");
    EXPECT_EQ(RunClient("write 200 second"), 0);
    at.Offset = 200;
    char more[7] = {};
    ASSERT_TRUE(ReadFile(device, more, 6, &read, &at));
    EXPECT_STREQ(more, "second");
    EXPECT_TRUE(CloseHandle(device));

    // Stopping unloads the driver: the device and its link are gone.
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(CreateFileW(u"\\\\.\\KernelTest", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RunClient("read 0 5"), static_cast<int>(ERROR_FILE_NOT_FOUND));

    EXPECT_TRUE(DeleteService(service));
    EXPECT_FALSE(DeleteService(service));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_FALSE(CloseServiceHandle(service));
    EXPECT_TRUE(CloseServiceHandle(manager));
}

TEST_F(HostTest, DefinitionsLiveInTheHostForEveryProgram) {
    // Without a host nothing is defined and no device opens, and asking does not start one.
    WCHAR none[8];
    EXPECT_EQ(QueryDosDeviceW(u"K:", none, 8), 0u);
    EXPECT_EQ(CreateFileW(u"\\\\.\\PhysicalDrive0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(platform::kernel::HostRunning());
    ASSERT_TRUE(DefineDosDeviceW(DDD_RAW_TARGET_PATH, u"K:", u"\\Device\\Nothing"));
    WCHAR targets[64] = {};
    ASSERT_GT(QueryDosDeviceW(u"K:", targets, 64), 0u);
    EXPECT_EQ(std::u16string(targets), u"\\Device\\Nothing");
    EXPECT_EQ(QueryDosDeviceW(u"K:", targets, 4), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    // The definition leads nowhere: opening the name finds no device.
    EXPECT_EQ(CreateFileW(u"\\\\.\\K:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    ASSERT_TRUE(DefineDosDeviceW(DDD_REMOVE_DEFINITION, u"K:", nullptr));
    EXPECT_EQ(QueryDosDeviceW(u"K:", targets, 64), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(HostTest, RefusesProgramsOfOtherUsers) {
    // The test acts as another user, which only root can do; the project's machines run everything as root.
    ASSERT_EQ(geteuid(), 0u) << "needs root to act as another user";
    const int own = platform::kernel::ConnectHost(true);
    ASSERT_GE(own, 0);
    close(own);
    // Open the folders up so that only the host's own check can stop the other user.
    chmod(machine.Folder().c_str(), 0755);
    chmod(platform::machine::PathOf("kernel").c_str(), 0755);
    chmod(platform::kernel::HostSocketPath().c_str(), 0777);
    const std::string socketPath = platform::kernel::HostSocketPath();
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(10);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
            _exit(11); // could not even reach the socket: the test proves nothing
        platform::kernel::protocol::Writer request;
        request.U32(static_cast<uint32_t>(platform::kernel::protocol::Op::QueryDriver));
        request.Text(u"KernelTest");
        std::vector<uint8_t> reply;
        platform::kernel::protocol::SendMessage(fd, request.Data());
        _exit(platform::kernel::protocol::ReceiveMessage(fd, reply) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "another user's request was answered";
}

TEST_F(HostTest, SharedBuffersMustBeSealedAndLargeEnough) {
    namespace protocol = platform::kernel::protocol;
    const int fd = platform::kernel::ConnectHost(true);
    ASSERT_GE(fd, 0);
    auto call = [fd](protocol::Writer& request, int descriptor = -1) {
        std::vector<uint8_t> reply;
        if (!protocol::SendMessage(fd, request.Data(), descriptor) || !protocol::ReceiveMessage(fd, reply) ||
            reply.size() < 4)
            return STATUS_PORT_DISCONNECTED;
        NTSTATUS status;
        memcpy(&status, reply.data(), 4);
        return status;
    };
    auto map = [&](int descriptor, uint64_t size) {
        protocol::Writer request;
        request.U32(static_cast<uint32_t>(protocol::Op::MapBuffer));
        request.U64(size);
        return call(request, descriptor);
    };
    // A memory file that could shrink under the host, one smaller than claimed, or none at all is refused.
    const int loose = memfd_create("loose", MFD_CLOEXEC);
    ASSERT_GE(loose, 0);
    ASSERT_EQ(ftruncate(loose, 65536), 0);
    EXPECT_EQ(map(loose, 65536), STATUS_INVALID_PARAMETER);
    const int sealed = memfd_create("sealed", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    ASSERT_GE(sealed, 0);
    ASSERT_EQ(ftruncate(sealed, 65536), 0);
    ASSERT_EQ(fcntl(sealed, F_ADD_SEALS, F_SEAL_SHRINK), 0);
    EXPECT_EQ(map(sealed, 65537), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(map(-1, 65536), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(map(sealed, 65536), STATUS_SUCCESS);
    close(loose);
    close(sealed);
    // Without an open device there is nothing to read into the buffer; the connection keeps serving.
    protocol::Writer read;
    read.U32(static_cast<uint32_t>(protocol::Op::ReadShared));
    read.U32(512);
    read.U32(0);
    read.U64(0);
    EXPECT_EQ(call(read), STATUS_INVALID_HANDLE);
    protocol::Writer query;
    query.U32(static_cast<uint32_t>(protocol::Op::QueryDriver));
    query.Text(u"KernelTest");
    EXPECT_EQ(call(query), STATUS_OBJECT_NAME_NOT_FOUND);

    // The request channel: a memory file with no room after its control block is refused; a request that claims
    // more data than the memory holds is answered with an error in the control block, and the host goes on.
    namespace channel = platform::kernel::channel;
    auto mapChannel = [&](int descriptor, uint64_t size) {
        protocol::Writer request;
        request.U32(static_cast<uint32_t>(protocol::Op::MapChannel));
        request.U64(size);
        return call(request, descriptor);
    };
    const int small = memfd_create("small", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    ASSERT_GE(small, 0);
    ASSERT_EQ(ftruncate(small, channel::kControlBytes), 0);
    ASSERT_EQ(fcntl(small, F_ADD_SEALS, F_SEAL_SHRINK), 0);
    EXPECT_EQ(mapChannel(small, channel::kControlBytes), STATUS_INVALID_PARAMETER);
    close(small);
    const uint64_t size = channel::kControlBytes + 4096;
    const int memory = memfd_create("channel", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    ASSERT_GE(memory, 0);
    ASSERT_EQ(ftruncate(memory, static_cast<off_t>(size)), 0);
    ASSERT_EQ(fcntl(memory, F_ADD_SEALS, F_SEAL_SHRINK), 0);
    void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, memory, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    EXPECT_EQ(mapChannel(memory, size), STATUS_SUCCESS);
    close(memory);
    auto& control = *static_cast<channel::Control*>(mapped);
    EXPECT_EQ(control.hostSleeping.load(), 1u); // the first request rings
    for (const uint32_t operation : {uint32_t{channel::kRead}, uint32_t{channel::kWrite}}) {
        const uint32_t sequence = control.posted.load() + 1;
        control.operation = operation;
        control.length = 8192;
        control.hasOffset = 1;
        control.offset = 0;
        control.posted.store(sequence);
        if (control.hostSleeping.exchange(0)) {
            protocol::Writer ring;
            ring.U32(static_cast<uint32_t>(protocol::Op::Ring));
            ASSERT_TRUE(protocol::SendMessage(fd, ring.Data()));
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (control.done.load() != sequence && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(control.done.load(), sequence);
        EXPECT_EQ(control.status, STATUS_INVALID_PARAMETER);
        EXPECT_EQ(control.count, 0u);
    }
    EXPECT_EQ(call(query), STATUS_OBJECT_NAME_NOT_FOUND);
    munmap(mapped, size);
    close(fd);
}

TEST_F(HostTest, AHostKilledByHandLeavesAnHonestStateAndStartsAfresh) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    SC_HANDLE service = CreateServiceW(manager, u"KernelTest", u"KernelTest", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, u"T:\\KernelTest.sys", nullptr,
                                       nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
    HANDLE device = CreateFileW(u"\\\\.\\KernelTest", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
    ASSERT_TRUE(DefineDosDeviceW(DDD_RAW_TARGET_PATH, u"K:", u"\\Device\\KernelTest"));
    ASSERT_TRUE(GetLogicalDrives() & (1u << ('K' - 'A')));
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(device, "w", 1, &count, nullptr)) << GetLastError(); // the handle's channel is set up

    // Kill the host as a user would by hand: no chance to clean up.
    const int fd = platform::kernel::ConnectHost(false);
    ASSERT_GE(fd, 0);
    ucred peer{};
    socklen_t length = sizeof(peer);
    ASSERT_EQ(getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length), 0);
    close(fd);
    ASSERT_EQ(kill(peer.pid, SIGKILL), 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (platform::kernel::HostRunning() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_FALSE(platform::kernel::HostRunning());
    EXPECT_TRUE(std::filesystem::exists(platform::kernel::HostSocketPath())); // what the killed host left

    // The handle's device is gone, and says so on every call instead of hanging or blaming a pipe.
    char byte = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_FALSE(WriteFile(device, "x", 1, &count, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_DEV_NOT_EXIST);
    }
    EXPECT_FALSE(ReadFile(device, &byte, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DEV_NOT_EXIST);
    EXPECT_TRUE(CloseHandle(device));
    // The service reads as stopped and the host's letters are gone at once.
    SERVICE_STATUS status{};
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_FALSE(GetLogicalDrives() & (1u << ('K' - 'A')));

    // The next start gets a fresh host whatever the stale socket.
    ASSERT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
    device = CreateFileW(u"\\\\.\\KernelTest", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_TRUE(WriteFile(device, "y", 1, &count, nullptr)) << GetLastError();
    EXPECT_TRUE(CloseHandle(device));
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_TRUE(DeleteService(service));
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_TRUE(CloseServiceHandle(manager));
}
