// A drive letter over a fresh scratch folder of the test's machine folder, and the host side of its files.
//
// Written out here in full, for test programs that link the file layer; the support library itself stands on
// the base layer alone, so that the base layer's tests run without the file layer.
#pragma once

#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/base/types.h"
#include "platform/fs/paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <sys/stat.h>
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

inline ScratchDrive::ScratchDrive(const platform::machine::ScopedTestMachine& machine, WCHAR letter,
                                  const std::string& folder)
    : m_letter(letter), m_root(machine.Scratch(folder)) {
    std::filesystem::create_directories(m_root);
    platform::fs::DriveInfo drive;
    drive.letter = letter;
    drive.hostRoot = m_root;
    EXPECT_TRUE(platform::fs::SetDrive(drive)) << "drive " << static_cast<char>(letter) << ": over " << m_root;
}

inline std::string ScratchDrive::Host(std::string_view relative) const {
    std::string path = m_root;
    if (!relative.empty()) {
        path += '/';
        path += relative;
    }
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

inline std::u16string ScratchDrive::Path(std::string_view relative) const {
    std::u16string path{m_letter, u':', u'\\'};
    path += platform::Utf8ToUtf16(std::string(relative));
    std::replace(path.begin(), path.end(), u'/', u'\\');
    return path;
}

inline void ScratchDrive::Write(std::string_view relative, std::string_view bytes) const {
    const std::filesystem::path path = Host(relative);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << path;
}

inline std::string ScratchDrive::Read(std::string_view relative) const {
    std::ifstream in(Host(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool ScratchDrive::Exists(std::string_view relative) const {
    struct stat st;
    return lstat(Host(relative).c_str(), &st) == 0;
}

inline void ScratchDrive::MakeFolder(std::string_view relative) const {
    std::error_code error;
    std::filesystem::create_directories(Host(relative), error);
    EXPECT_FALSE(error) << Host(relative) << ": " << error.message();
}

inline std::vector<std::string> ScratchDrive::Names(std::string_view folder) const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(Host(folder), error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace testsupport
