// Directory monitor under a burst: 30,000 files in 300 new folders, created as fast as possible under a watched
// tree. Prints how many creations reached the owner, how many flush records covered lost changes, and the
// 99th-percentile delay from a file's creation to its delivery.

#include "engine/DirectoryMonitor.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/fs/changes.h"
#include "platform/fs/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Owner {
    std::mutex mutex;
    std::unordered_map<std::u16string, Clock::time_point> delivered;
    int overflowFlushes = 0;
    Clock::time_point last = Clock::now();
};

void CALLBACK OnAction(LPVOID user, FILE_ACTION_RECORD* record) {
    auto* owner = static_cast<Owner*>(user);
    const auto now = Clock::now();
    {
        std::lock_guard lock(owner->mutex);
        if (record->nAction == FILE_ACTION_ADDED)
            owner->delivered.emplace(record->strPath.Str(), now);
        else if (record->nAction == FILE_ACTION_FLUSH && !record->strPath.IsEmpty())
            ++owner->overflowFlushes;
        owner->last = now;
    }
    DestroyFileActionRecord(record);
}

} // namespace

int main() {
    constexpr int kFolders = 300;
    constexpr int kFilesPerFolder = 100;
    platform::machine::ScopedTestMachine machine;
    const std::string root = machine.Scratch("watched");
    mkdir(root.c_str(), 0755);
    platform::fs::DriveInfo drive;
    drive.letter = u'W';
    drive.hostRoot = root;
    platform::fs::SetDrive(drive);

    Owner owner;
    CDirectoryMonitor monitor;
    monitor.SetDrives(1u << ('W' - 'A'));
    if (monitor.StartMonitor(nullptr, &OnAction, &owner) != 0) {
        std::fprintf(stderr, "monitor did not start\n");
        return 1;
    }
    std::vector<std::pair<std::u16string, Clock::time_point>> created;
    created.reserve(kFolders * kFilesPerFolder);
    for (int f = 0; f < kFolders; ++f) {
        const std::string folder = root + "/d" + std::to_string(f);
        mkdir(folder.c_str(), 0755);
        for (int i = 0; i < kFilesPerFolder; ++i) {
            const std::string name = "f" + std::to_string(i);
            const int fd = open((folder + "/" + name).c_str(), O_CREAT | O_WRONLY, 0644);
            if (fd >= 0)
                close(fd);
            created.emplace_back(platform::Utf8ToUtf16("W:\\d" + std::to_string(f) + "\\" + name), Clock::now());
        }
    }
    // Wait until the owner has heard nothing for two seconds (at most a minute).
    const auto giveUp = Clock::now() + std::chrono::seconds(60);
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::lock_guard lock(owner.mutex);
        if (Clock::now() - owner.last > std::chrono::seconds(2) || Clock::now() > giveUp)
            break;
    }
    monitor.StopMonitor();

    std::vector<double> delays;
    for (const auto& [path, when] : created) {
        auto it = owner.delivered.find(path);
        if (it != owner.delivered.end())
            delays.push_back(std::chrono::duration<double, std::milli>(it->second - when).count());
    }
    std::sort(delays.begin(), delays.end());
    const double p99 = delays.empty() ? 0.0 : delays[std::min(delays.size() - 1, delays.size() * 99 / 100)];
    std::printf("monitor burst: %zu of %zu changes delivered, overflow flushes %d, p99 delay %.0f ms\n", delays.size(),
                created.size(), owner.overflowFlushes, p99);
    return 0;
}
