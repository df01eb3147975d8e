// The private side of path translation, shared by its files: paths.cpp (resolving a Windows path to a host one
// and back), pathparse.cpp (parsing, the current folder), drivetables.cpp (the drive and share tables) and
// caselookup.cpp (finding a name in another case).
#pragma once

#include "platform/fs/hostfs.h"
#include "platform/fs/paths.h"

#include <optional>
#include <string>
#include <vector>

namespace platform::fs {

// A Windows path taken apart: a drive letter, a share or a device, and the components below it ("." and ".."
// already resolved).
struct Parsed {
    enum Kind { Drive, Unc, Device } kind = Drive;
    WCHAR letter = u'C';
    std::u16string server;
    std::u16string share;
    std::u16string device;
    std::vector<std::u16string> components;
};

// Parsing (pathparse.cpp). Parse fails with the Win32 code in `error`; a relative path is completed from the
// current folder.
std::optional<Parsed> Parse(LPCWSTR input, DWORD& error);
WCHAR UpperLetter(WCHAR c);
// Copies a path into a caller's buffer: the length without the terminator, or the size needed when it is short.
DWORD ReturnPath(const std::u16string& path, DWORD size, LPWSTR buffer);

// The tables (drivetables.cpp).
std::string TrimHostRoot(std::string root);
// The host folder of a letter of the table (not of the providers).
std::optional<std::string> DriveRoot(WCHAR letter);
std::optional<std::string> ShareRoot(const std::u16string& server, const std::u16string& share);
// The table's letters only, without the providers'.
std::vector<DriveInfo> TableDrives();

// Case-insensitive lookup (caselookup.cpp).
std::string JoinHost(const std::string& folder, const std::string& name);
// The host path of `comps` below `root`, each component in the case it exists in.
std::string ResolveCase(const std::string& root, const std::vector<std::u16string>& comps, bool& missing,
                        std::optional<detail::HostStat>& found);

} // namespace platform::fs
