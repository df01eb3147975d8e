#include "copylib/TestSupport.h"

#include "platform/base/strings.h"
#include "platform/fs/paths.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>

namespace copylib_test {

std::u16string CopyTest::Win(const std::u16string& relative) {
    return u"T:\\" + relative;
}

void CopyTest::SetModified(const std::string& relative, time_t seconds) const {
    struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, m_drive.Host(relative).c_str(), times, 0), 0);
}

time_t CopyTest::Modified(const std::string& relative) const {
    struct stat st {};
    stat(m_drive.Host(relative).c_str(), &st);
    return st.st_mtim.tv_sec;
}

std::vector<DWORD> JobRun::Numbers() {
    std::lock_guard lock(mutex);
    std::vector<DWORD> numbers;
    for (const Event& e : events)
        numbers.push_back(e.event);
    return numbers;
}

std::vector<Event> JobRun::Of(DWORD event) {
    std::lock_guard lock(mutex);
    std::vector<Event> found;
    for (const Event& e : events)
        if (e.event == event)
            found.push_back(e);
    return found;
}

int CALLBACK RecordingCallback(HANDLE job, LPVOID userData, DWORD event, DWORD code, HWND, TVITEMW*, LPWSTR source,
                               LPWSTR destination, KOVRA_PROGRESS* progress) {
    auto& run = *static_cast<JobRun*>(userData);
    if ((event == KOVRA_CALC_ENTER_DIR || event == KOVRA_COPY_ENTER_DIR) && source && destination &&
        !run.destinationRoot.empty()) {
        std::u16string path(source);
        std::u16string rest = path.substr(std::min(path.size(), run.sourceRoot.size()));
        std::u16string joined = run.destinationRoot;
        if (!rest.empty()) {
            if (joined.back() == u'\\' && rest.front() == u'\\')
                rest.erase(0, 1);
            else if (joined.back() != u'\\' && rest.front() != u'\\')
                joined += u'\\';
            joined += rest;
        }
        platform::CopyTruncated(destination, 2048, joined);
    }
    Event e{event, code, source ? std::u16string(source) : std::u16string(),
            destination ? std::u16string(destination) : std::u16string()};
    {
        std::lock_guard lock(run.mutex);
        run.events.push_back(e);
    }
    int answer = run.answer ? run.answer(run, e) : 0;
    if (event == KOVRA_JOB_END) {
        std::lock_guard lock(run.mutex);
        run.progress = *progress;
        run.result = KovraGetCompleteResult(job);
        run.ended = true;
        run.changed.notify_all();
    }
    return answer;
}

int RunJob(JobRun& run, DWORD flags, const std::u16string& source, const std::u16string& destination) {
    run.sourceRoot = source;
    run.destinationRoot = destination;
    int created = KovraCreateJob(&run.handle, u"test job", nullptr, source.c_str(), destination.c_str(), flags,
                                 RecordingCallback, &run);
    if (created != 0)
        return created;
    std::unique_lock lock(run.mutex);
    if (!run.changed.wait_for(lock, std::chrono::seconds(60), [&] { return run.ended; })) {
        ADD_FAILURE() << "the job did not end in time";
        // The job still refers to `run`: stop the test program rather than let it outlive the record.
        std::abort();
    }
    return created;
}

} // namespace copylib_test
