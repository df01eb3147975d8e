// Shared fixtures of the copy library's tests: a test machine with a drive letter over a scratch folder, files
// made on the host, and a callback that records every event of a job and answers from a rule.
#pragma once

#include "copylib/Brannic.h"
#include "platform/base/machine.h"
#include "platform/testing/eventually.h"
#include "platform/testing/scratch_drive.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace copylib_test {

// A test machine of its own and drive T: over a scratch folder, in the words of the copy tests.
class CopyTest : public testsupport::ScratchDriveTest {
protected:
    // Host path of a path below the scratch folder ("src/a.txt").
    std::string Host(const std::string& relative) const { return m_drive.Host(relative); }
    // Windows path on drive T: ("src\\a.txt" -> "T:\\src\\a.txt").
    static std::u16string Win(const std::u16string& relative);

    void MakeDir(const std::string& relative) const { m_drive.MakeFolder(relative); }
    void WriteFile(const std::string& relative, const std::string& content) const { m_drive.Write(relative, content); }
    std::string ReadFile(const std::string& relative) const { return m_drive.Read(relative); }
    bool Exists(const std::string& relative) const { return m_drive.Exists(relative); }
    void SetModified(const std::string& relative, time_t seconds) const;
    time_t Modified(const std::string& relative) const;
};

struct Event {
    DWORD event = 0;
    DWORD code = 0;
    std::u16string source;
    std::u16string destination;
};

// One job's record of events, answered on the worker thread by `answer` (0 when empty).
struct JobRun {
    std::function<int(JobRun&, const Event&)> answer;
    std::vector<Event> events;
    KOVRA_PROGRESS progress{}; // as seen at event 1
    int result = -1;           // KovraGetCompleteResult during event 1
    HANDLE handle = nullptr;
    bool ended = false;
    std::u16string sourceRoot;
    std::u16string destinationRoot;
    std::mutex mutex;
    std::condition_variable changed;

    std::vector<DWORD> Numbers();
    std::vector<Event> Of(DWORD event);
    bool Has(DWORD event) { return !Of(event).empty(); }
};

// Places each directory at the destination root plus its path relative to the source root.
int CALLBACK RecordingCallback(HANDLE job, LPVOID userData, DWORD event, DWORD code, HWND treeWindow, TVITEMW* treeItem,
                               LPWSTR source, LPWSTR destination, KOVRA_PROGRESS* progress);

// Creates the job and waits for its event 1 (failing the test after a deadline). Returns KovraCreateJob's result.
int RunJob(JobRun& run, DWORD flags, const std::u16string& source, const std::u16string& destination);

using testsupport::Eventually;

} // namespace copylib_test
