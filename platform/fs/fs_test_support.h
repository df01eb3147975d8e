// Shared fixture of the file layer's tests: a machine folder of its own, with T: mapped to a scratch folder
// (and C: too, so that nothing a test does can reach the user's home), T:\\ the current folder.
#pragma once

#include "platform/base/machine.h"
#include "platform/base/types.h"
#include "platform/fs/paths.h"
#include "platform/testing/scratch_drive.h"

#include <gtest/gtest.h>
#include <string>

namespace fstest {

std::u16string W(const std::string& utf8);
void WriteHost(const std::string& path, const std::string& content);
std::string ReadHost(const std::string& path);
platform::fs::DriveInfo Letter(WCHAR letter, const std::string& hostRoot,
                               platform::fs::DriveKind kind = platform::fs::DriveKind::Fixed);

class FsTest : public ::testing::Test {
protected:
    void SetUp() override;

    platform::machine::ScopedTestMachine m_machine;
    testsupport::ScratchDrive m_drive{m_machine};
    testsupport::ScratchDrive m_home{m_machine, u'C', "c"};
};

// A second process that opens a file through the layer and holds it until destroyed.
class Holder {
public:
    Holder(const std::u16string& windowsPath, DWORD access, DWORD share);
    ~Holder();
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    // What the child reported after its open: "ok" or "error <code>"; empty when it said nothing in time.
    const std::string& Status() const { return m_status; }

private:
    int m_pid = -1;
    int m_toChild = -1;
    std::string m_status;
};

} // namespace fstest
