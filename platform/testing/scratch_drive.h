// A drive letter over a fresh scratch folder of the test's machine folder, and the host side of its files.
#pragma once

#include "platform/base/machine.h"
#include "platform/base/types.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

class ScratchDrive {
public:
    // Maps `letter` to the scratch folder `folder` of `machine`, which must outlive the drive (the mapping lives in
    // the machine folder and goes with it). A mapping that fails fails the test.
    explicit ScratchDrive(const platform::machine::ScopedTestMachine& machine, WCHAR letter = u'T',
                          const std::string& folder = "t");

    WCHAR Letter() const { return m_letter; }
    // The host folder behind the letter.
    const std::string& Root() const { return m_root; }
    // The host path of a name below the root ("a/b.txt").
    std::string Host(std::string_view relative) const;
    // The Windows path of the same name ("a/b.txt" or "a\\b.txt" -> "T:\\a\\b.txt"; "" -> "T:\\").
    std::u16string Path(std::string_view relative = {}) const;

    // Host-side file access that bypasses the layer: writes whole files (making missing folders), reads them
    // ("" for a missing file), and lists a folder's names in sorted order without "." and "..".
    void Write(std::string_view relative, std::string_view bytes) const;
    std::string Read(std::string_view relative) const;
    bool Exists(std::string_view relative) const;
    void MakeFolder(std::string_view relative) const;
    std::vector<std::string> Names(std::string_view folder = {}) const;

private:
    WCHAR m_letter;
    std::string m_root;
};

// The common fixture: a machine folder of the test's own and T: over a scratch folder in it.
class ScratchDriveTest : public ::testing::Test {
protected:
    platform::machine::ScopedTestMachine m_machine;
    ScratchDrive m_drive{m_machine};
};

} // namespace testsupport
