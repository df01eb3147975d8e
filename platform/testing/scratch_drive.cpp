#include "platform/testing/scratch_drive.h"

#include "platform/base/strings.h"
#include "platform/fs/paths.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace testsupport {

ScratchDrive::ScratchDrive(const platform::machine::ScopedTestMachine& machine, WCHAR letter, const std::string& folder)
    : m_letter(letter), m_root(machine.Scratch(folder)) {
    std::filesystem::create_directories(m_root);
    platform::fs::DriveInfo drive;
    drive.letter = letter;
    drive.hostRoot = m_root;
    EXPECT_TRUE(platform::fs::SetDrive(drive)) << "drive " << static_cast<char>(letter) << ": over " << m_root;
}

std::string ScratchDrive::Host(std::string_view relative) const {
    std::string path = m_root;
    if (!relative.empty()) {
        path += '/';
        path += relative;
    }
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::u16string ScratchDrive::Path(std::string_view relative) const {
    std::u16string path{m_letter, u':', u'\\'};
    path += platform::Utf8ToUtf16(std::string(relative));
    std::replace(path.begin(), path.end(), u'/', u'\\');
    return path;
}

void ScratchDrive::Write(std::string_view relative, std::string_view bytes) const {
    const std::filesystem::path path = Host(relative);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << path;
}

std::string ScratchDrive::Read(std::string_view relative) const {
    std::ifstream in(Host(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool ScratchDrive::Exists(std::string_view relative) const {
    struct stat st;
    return lstat(Host(relative).c_str(), &st) == 0;
}

void ScratchDrive::MakeFolder(std::string_view relative) const {
    std::error_code error;
    std::filesystem::create_directories(Host(relative), error);
    EXPECT_FALSE(error) << Host(relative) << ": " << error.message();
}

std::vector<std::string> ScratchDrive::Names(std::string_view folder) const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(Host(folder), error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace testsupport
