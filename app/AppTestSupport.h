// Test support of the application core: a fresh machine folder per test with drive T: on a scratch folder and
// drive B: on the folder of the test program (so that the program's own path is a Windows path there).
#pragma once

#include "app/UnicodeTextFile.h"
#include "app/XMLLog.h"

#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/fs/paths.h"
#include "platform/testing/scratch_drive.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace apptest {

inline std::string ExePath() {
    std::string path(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    path.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return path;
}

inline std::string ExeFolder() {
    const std::string path = ExePath();
    return path.substr(0, path.find_last_of('/'));
}

inline std::u16string ExeName() {
    const std::string path = ExePath();
    return platform::Utf8ToUtf16(path.substr(path.find_last_of('/') + 1));
}

// The entries of an event log file, oldest first, read with the log's own item reader.
inline std::vector<CXMLLogItem> ReadLogItems(LPCTSTR lpszLogPath) {
    std::vector<CXMLLogItem> items;
    CUnicodeTextFile file;
    if (!file.Open(lpszLogPath, CFile::modeRead | CFile::shareDenyNone | CFile::typeText))
        return items;
    try {
        CString line;
        while (file.ReadString(line)) {
            const int start = line.Find(u"<LogItem>");
            const int end = line.Find(u"</LogItem>");
            if (start < 0 || end < start)
                continue;
            CXMLLogItem item;
            if (CXMLLog::ParseItem(line.Mid(start + 9, end - start - 9), item))
                items.push_back(item);
        }
    } catch (CFileException* e) {
        e->Delete();
    }
    file.Abort();
    return items;
}

class MachineTest : public testsupport::ScratchDriveTest {
protected:
    void SetUp() override {
        platform::fs::DriveInfo bin;
        bin.letter = u'B';
        bin.hostRoot = ExeFolder();
        ASSERT_TRUE(platform::fs::SetDrive(bin));
    }

    // UTF-16LE bytes of a text, as the program's files hold them.
    static std::string Utf16(std::u16string_view text) {
        std::string bytes;
        for (char16_t c : text) {
            bytes += static_cast<char>(c & 0xFF);
            bytes += static_cast<char>(c >> 8);
        }
        return bytes;
    }
    static std::u16string FromUtf16(const std::string& bytes) {
        std::u16string text;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8));
        return text;
    }
};

} // namespace apptest
