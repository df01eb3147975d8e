// A directory job of the copy library against `cp -a`, side by side in one run.
//
// Two data sets: (a) 20,000 files of 4 KiB in 200 folders and (b) 8 files of 128 MiB. For each, a job with the
// counting pass and the copy pass (flags 0x2 | 0x10 | 0x20) and `cp -a` (for the small files also `rsync -a`)
// copy the same source into a fresh destination on the same file system, taking turns at going first, a few
// rounds each. Each round gives the ratio job time / tool time of runs made back to back; the last lines are the
// medians of the rounds' ratios. Pairs are compared rather than best times because the file system's speed drifts
// on a busy machine.
//
// Every run starts from the same state. Before it, untimed, the file system is synced and the kernel's write-back
// is waited for, so that no run pays for writing back what an earlier one left dirty, and the previous run's
// large files are removed. The small files' copies are not removed between runs: ext4 without a journal passes
// over the inodes freed in the last minutes whenever it allocates one in their group, and a copy made where
// another had just been removed measured up to seven times slower, whoever made it. They go when their set ends,
// and a benchmark started within minutes of another's removals waits for them to age. Their destinations are
// made inside a folder marked as a top of trees (the ext4 flag behind `chattr +T`): the file system then places
// each copy in lightly used space of its own, away from the files other programs keep making and removing.
//
// Besides the elapsed time, each run's processor time (user and system, of the job's process while only the job
// runs, of the tool's process) is taken; its ratio ("cpu ratio") hardly moves with the load of other programs,
// where the elapsed time also holds the waits for a processor that they cause.
//
// Usage: copy_bench [--help] [work folder]   (default: a new folder under $TMPDIR or /tmp; removed at the end)
// KOVRA_BENCH_ROUNDS sets the rounds (default 5); KOVRA_BENCH_SETS=small or =large runs one data set only.

#include "copylib/Brannic.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// A run's elapsed and processor time, in seconds.
struct Times {
    double wall = 0;
    double cpu = 0;
};

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double CpuOf(const rusage& usage) {
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

double OwnCpu() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return CpuOf(usage);
}

std::u16string Widen(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

struct JobState {
    std::u16string sourceRoot;
    std::u16string destinationRoot;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    int result = -1;
    KOVRA_PROGRESS progress{};
};

// Places each directory at the destination root plus its path relative to the source root.
int CALLBACK BenchCallback(HANDLE, LPVOID userData, DWORD event, DWORD code, HWND, TVITEMW*, LPWSTR source,
                           LPWSTR destination, KOVRA_PROGRESS* progress) {
    auto& state = *static_cast<JobState*>(userData);
    if (event == KOVRA_CALC_ENTER_DIR || event == KOVRA_COPY_ENTER_DIR) {
        std::u16string path(source);
        std::u16string joined = state.destinationRoot + path.substr(state.sourceRoot.size());
        if (joined.size() < 2048) {
            std::copy(joined.begin(), joined.end(), destination);
            destination[joined.size()] = 0;
        }
    } else if (event == KOVRA_JOB_END) {
        std::lock_guard lock(state.mutex);
        state.result = static_cast<int>(code);
        state.progress = *progress;
        state.done = true;
        state.ended.notify_all();
    }
    return 0;
}

Times RunJob(const std::u16string& source, const std::u16string& destination, JobState& state) {
    state.sourceRoot = source;
    state.destinationRoot = destination;
    const double cpuStart = OwnCpu();
    auto start = Clock::now();
    HANDLE job = nullptr;
    int created =
        KovraCreateJob(&job, u"bench", nullptr, source.c_str(), destination.c_str(), 0x32, BenchCallback, &state);
    if (created != 0) {
        std::fprintf(stderr, "KovraCreateJob failed: %d\n", created);
        std::exit(1);
    }
    std::unique_lock lock(state.mutex);
    state.ended.wait(lock, [&] { return state.done; });
    return {std::chrono::duration<double>(Clock::now() - start).count(), OwnCpu() - cpuStart};
}

// The reference tools: "cp -a source destination" and "rsync -a source/ destination" (the same tree).
enum class Tool { Cp, Rsync };

const char* NameOf(Tool tool) {
    return tool == Tool::Cp ? "cp -a" : "rsync -a";
}

Times RunTool(Tool tool, const std::string& source, const std::string& destination) {
    const std::string from = tool == Tool::Rsync ? source + "/" : source;
    auto start = Clock::now();
    pid_t child = fork();
    if (child == 0) {
        if (tool == Tool::Cp)
            execlp("cp", "cp", "-a", from.c_str(), destination.c_str(), static_cast<char*>(nullptr));
        else
            execlp("rsync", "rsync", "-a", from.c_str(), destination.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", NameOf(tool));
        std::exit(1);
    }
    return {seconds, CpuOf(usage)};
}

void WriteData(const std::string& path, size_t size, unsigned seed) {
    std::vector<char> block(std::min(size, size_t(1) << 20));
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>((i * 131 + seed * 7919) & 0xFF);
    std::ofstream out(path, std::ios::binary);
    for (size_t written = 0; written < size;) {
        size_t n = std::min(block.size(), size - written);
        out.write(block.data(), static_cast<std::streamsize>(n));
        written += n;
    }
}

double MedianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// What each run starts from: the file system has written back what was dirty, and the previous run's destination
// is gone or, for the small files, lies in space of its own (see the top of this file).
class Runs {
public:
    explicit Runs(const std::string& work) : work_(work) {
        fd_ = open(work.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    ~Runs() {
        RemoveKept();
        if (fd_ >= 0)
            close(fd_);
    }
    Runs(const Runs&) = delete;
    Runs& operator=(const Runs&) = delete;

    // Starts a data set whose destinations go into the folder `folder` of the work folder (B:\folder). With
    // `spread`, that folder is marked as a top of trees, and the destinations stay until the set ends.
    void BeginSet(const std::string& folder, bool spread) {
        EndSet();
        out_ = work_ + "/" + folder;
        spread_ = spread;
        fs::create_directories(out_);
        if (!spread)
            return;
        const int dir = open(out_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int flags = 0;
        if (dir < 0 || ioctl(dir, FS_IOC_GETFLAGS, &flags) != 0 ||
            (flags |= FS_TOPDIR_FL, ioctl(dir, FS_IOC_SETFLAGS, &flags) != 0))
            std::printf("note: %s could not be marked as a top of trees (%s)\n", out_.c_str(), std::strerror(errno));
        if (dir >= 0)
            close(dir);
    }

    // Removes what the set left.
    void EndSet() { RemoveKept(); }

    // Untimed: removes the previous destination (unless the set keeps them), syncs and waits for the write-back
    // to settle. Returns the path of the new destination `name`.
    std::string Prepare(const std::string& name) {
        if (!spread_)
            RemoveKept();
        kept_.push_back(out_ + "/" + name);
        if (!Settle())
            ++unsettled_;
        return kept_.back();
    }

    int Unsettled() const { return unsettled_; }

    // Syncs, for a removal to reach the disk.
    void Sync() const { Settle(); }

private:
    void RemoveKept() {
        for (const auto& path : kept_) {
            std::error_code error;
            fs::remove_all(path, error);
        }
        kept_.clear();
    }

    // Dirty and under-write-back memory, in KiB, from /proc/meminfo.
    static long PendingKiB() {
        std::ifstream in("/proc/meminfo");
        std::string key;
        long value = 0;
        long pending = 0;
        std::string unit;
        while (in >> key >> value) {
            if (key == "Dirty:" || key == "Writeback:")
                pending += value;
            std::getline(in, unit);
        }
        return pending;
    }

    // Syncs the file system until little is left to write back (other programs may keep writing), for at most
    // ten seconds.
    bool Settle() const {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        for (;;) {
            if (fd_ >= 0)
                syncfs(fd_);
            else
                sync();
            if (PendingKiB() < 16 * 1024)
                return true;
            if (Clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    std::string work_;
    std::string out_;
    bool spread_ = false;
    std::vector<std::string> kept_;
    int fd_ = -1;
    int unsettled_ = 0;
};

struct Result {
    std::vector<double> ratios;
    std::vector<double> cpuRatios;
    double Median() const { return MedianOf(ratios); }
    double CpuMedian() const { return MedianOf(cpuRatios); }
};

// "median (lowest-highest)" of a list of seconds or ratios.
std::string Spread(const std::vector<double>& values, const char* unit) {
    if (values.empty())
        return "-";
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    char text[96];
    std::snprintf(text, sizeof text, "%.3f%s (%.3f-%.3f)", MedianOf(values), unit, *low, *high);
    return text;
}

// How long ext4 without a journal passes over a freed inode when it allocates one: a minute, six while the inode's
// table block is dirty, which it becomes again as soon as a new inode next to it is made. A copy of the small
// files made where another benchmark had just removed its trees measured up to seven times slower, so a
// benchmark leaves a stamp when it has removed its trees, and the next one waits for them to age first.
constexpr auto kFreedInodesAge = std::chrono::seconds(6 * 60 + 5);

void WaitForFreedInodes(const std::string& stamp) {
    struct stat info {};
    if (stat(stamp.c_str(), &info) != 0)
        return;
    const auto freed = std::chrono::system_clock::from_time_t(info.st_mtim.tv_sec);
    const auto until = freed + kFreedInodesAge;
    const auto now = std::chrono::system_clock::now();
    if (now >= until || freed > now)
        return;
    std::printf("waiting %lld s for the inodes the previous benchmark freed to age\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(until - now).count()));
    std::fflush(stdout);
    std::this_thread::sleep_until(until);
}

void StampFreedInodes(const std::string& stamp) {
    std::ofstream(stamp, std::ios::trunc).flush();
    utimensat(AT_FDCWD, stamp.c_str(), nullptr, 0);
}

// The path of `path` (inside the work folder) on drive B:.
std::u16string OnDrive(const std::string& work, const std::string& path) {
    std::u16string result = u"B:" + Widen(path.substr(work.size()));
    std::replace(result.begin(), result.end(), u'/', u'\\');
    return result;
}

// One ratio list per reference tool, in the order of `tools`.
std::vector<Result> Compare(const char* label, Runs& runs, const std::string& work, const std::string& sourceName,
                            int rounds, const std::vector<Tool>& tools) {
    std::vector<Result> results(tools.size());
    std::vector<std::vector<double>> seconds(tools.size() + 1);
    const std::string source = work + "/" + sourceName;
    for (int round = 0; round < rounds; ++round) {
        const std::string suffix = "_" + std::to_string(round);
        JobState state;
        Times job;
        std::vector<Times> times(tools.size());
        // The job and the tools take turns at going first, so that none always meets the page cache another has
        // filled. Slot 0 is the job, slot i + 1 the tool i.
        const size_t slots = tools.size() + 1;
        for (size_t k = 0; k < slots; ++k) {
            const size_t slot = (k + static_cast<size_t>(round)) % slots;
            if (slot == 0) {
                const std::string destination = runs.Prepare("job_" + sourceName + suffix);
                job = RunJob(OnDrive(work, source), OnDrive(work, destination), state);
            } else {
                const Tool tool = tools[slot - 1];
                const std::string prefix = tool == Tool::Cp ? "cp_" : "rsync_";
                times[slot - 1] = RunTool(tool, source, runs.Prepare(prefix + sourceName + suffix));
            }
        }
        if (state.result != 0)
            std::fprintf(stderr, "%s: job ended with %d\n", label, state.result);
        std::printf("%s round %d: job %.3f s (cpu %.3f s; %u files copied, %u skipped)", label, round + 1, job.wall,
                    job.cpu, state.progress.dwTotalFilesCopied, state.progress.dwSkippedFiles);
        seconds[0].push_back(job.wall);
        for (size_t i = 0; i < tools.size(); ++i) {
            const double ratio = job.wall / times[i].wall;
            const double cpuRatio = times[i].cpu > 0 ? job.cpu / times[i].cpu : 0;
            std::printf(", %s %.3f s (cpu %.3f s), ratio %.2f (cpu %.2f)", NameOf(tools[i]), times[i].wall,
                        times[i].cpu, ratio, cpuRatio);
            results[i].ratios.push_back(ratio);
            results[i].cpuRatios.push_back(cpuRatio);
            seconds[i + 1].push_back(times[i].wall);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    // How far the rounds lie apart: each side's elapsed time and each ratio, median (lowest-highest).
    std::printf("%s spread over %d rounds: job %s", label, rounds, Spread(seconds[0], " s").c_str());
    for (size_t i = 0; i < tools.size(); ++i)
        std::printf(", %s %s", NameOf(tools[i]), Spread(seconds[i + 1], " s").c_str());
    for (size_t i = 0; i < tools.size(); ++i)
        std::printf("; ratio to %s %s", NameOf(tools[i]), Spread(results[i].ratios, "").c_str());
    std::printf("\n");
    std::fflush(stdout);
    return results;
}

const char kUsage[] = "usage: copy_bench [--help] [work folder]\n";

} // namespace

int main(int argc, char** argv) {
    std::string work;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::printf("%s"
                        "Copies 20,000 files of 4 KiB and 8 files of 128 MiB with a copy job, cp -a and (the small\n"
                        "files) rsync -a, side by side, and prints the medians of the rounds' time ratios.\n"
                        "  work folder   where the data sets and copies go (default: a new folder under $TMPDIR or\n"
                        "                /tmp, removed at the end); a folder given is kept, its copies removed\n"
                        "Environment: KOVRA_BENCH_ROUNDS (default 5), KOVRA_BENCH_SETS=small or =large.\n"
                        "A run started within six minutes of another's end first waits for the inodes that one\n"
                        "freed to age (ext4 without a journal passes over them).\n",
                        kUsage);
            return 0;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "copy_bench: unknown option %s\n%s", arg.c_str(), kUsage);
            return 2;
        }
        if (!work.empty()) {
            std::fprintf(stderr, "copy_bench: one work folder only (%s)\n%s", arg.c_str(), kUsage);
            return 2;
        }
        work = arg;
    }
    bool removeWork = false;
    if (!work.empty()) {
        std::error_code error;
        fs::create_directories(work, error);
        if (error) {
            std::fprintf(stderr, "copy_bench: %s: %s\n", work.c_str(), error.message().c_str());
            return 1;
        }
    } else {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/copy_bench.XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back(0);
        if (!mkdtemp(buffer.data())) {
            std::perror("mkdtemp");
            return 1;
        }
        work = buffer.data();
        removeWork = true;
    }
    work = fs::canonical(work).string();
    const std::string stamp = fs::path(work).parent_path().string() + "/copy_bench.freed";
    WaitForFreedInodes(stamp);
    int rounds = 5;
    if (const char* r = std::getenv("KOVRA_BENCH_ROUNDS"))
        rounds = std::max(1, std::atoi(r));

    // A machine folder of the benchmark's own, with drive B: over the work folder.
    const std::string machine = work + "/machine";
    fs::create_directories(machine);
    std::ofstream(machine + "/drives") << "B=" << work << "\n";
    setenv("WINLAYER_MACHINE", machine.c_str(), 1);

    std::printf("work folder: %s\n", work.c_str());
    std::printf("preparing data sets...\n");
    std::fflush(stdout);
    const char* sets = std::getenv("KOVRA_BENCH_SETS");
    const bool runSmall = !sets || std::string(sets) != "large";
    const bool runLarge = !sets || std::string(sets) != "small";
    const std::string small = work + "/small";
    for (int folder = 0; runSmall && folder < 200; ++folder) {
        std::string dir = small + "/folder" + std::to_string(folder);
        fs::create_directories(dir);
        for (int file = 0; file < 100; ++file)
            WriteData(dir + "/file" + std::to_string(file) + ".dat", 4096, static_cast<unsigned>(folder * 100 + file));
    }
    const std::string large = work + "/large";
    fs::create_directories(large);
    for (int file = 0; runLarge && file < 8; ++file)
        WriteData(large + "/big" + std::to_string(file) + ".bin", size_t(128) << 20, static_cast<unsigned>(file));
    Runs runs(work);
    // Warm the page cache for both sources so that neither side pays for the first read, and let a first job
    // start the library (its drive table, its threads) outside the rounds, as a program does once.
    std::vector<Result> smallResults;
    if (runSmall) {
        runs.BeginSet("small_out", true);
        RunTool(Tool::Cp, small, runs.Prepare("warm_small"));
        JobState warm;
        RunJob(OnDrive(work, small), OnDrive(work, runs.Prepare("warm_job_small")), warm);
        smallResults = Compare("small files", runs, work, "small", rounds, {Tool::Cp, Tool::Rsync});
        runs.EndSet();
    }
    std::vector<Result> largeResults;
    if (runLarge) {
        runs.BeginSet("large_out", false);
        RunTool(Tool::Cp, large, runs.Prepare("warm_large"));
        largeResults = Compare("large files", runs, work, "large", rounds, {Tool::Cp});
        runs.EndSet();
    }
    if (runs.Unsettled() > 0)
        std::printf("note: before %d runs the write-back did not settle within 10 s (other programs writing)\n",
                    runs.Unsettled());

    if (removeWork) {
        fs::remove_all(work);
    } else {
        fs::remove_all(work + "/small_out");
        fs::remove_all(work + "/large_out");
    }
    runs.Sync();
    StampFreedInodes(stamp);
    if (runSmall) {
        std::printf("small files cpu ratio: %.2f\n", smallResults[0].CpuMedian());
        std::printf("small files ratio: %.2f\n", smallResults[0].Median());
        std::printf("small files vs rsync ratio: %.2f\n", smallResults[1].Median());
    }
    if (runLarge) {
        std::printf("large files cpu ratio: %.2f\n", largeResults[0].CpuMedian());
        std::printf("large files ratio: %.2f\n", largeResults[0].Median());
    }
    return 0;
}
