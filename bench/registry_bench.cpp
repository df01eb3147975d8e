// Registry writers in several processes at once: each process sets values of one key as fast as it can,
// alternating a value they all share and one of its own, and times every RegSetValueExW. Side by side, the
// same writes go through plain SQLite (a WAL database, BEGIN IMMEDIATE and SQLite's own busy timeout), the way
// a store that waits by retrying would. Prints the worst, 99th-percentile and median latency of each, and the
// ratio of the worst latencies.
//
// Usage: registry_bench [writes per process (2000)] [processes (2)]

#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/registry/registry.h"

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Result {
    double worstMs = 0;
    double p99Ms = 0;
    double medianMs = 0;
    int failures = 0;
};

Result Summarise(std::vector<double> ms, int failures) {
    Result r;
    r.failures = failures;
    if (ms.empty())
        return r;
    std::sort(ms.begin(), ms.end());
    r.worstMs = ms.back();
    r.p99Ms = ms[ms.size() * 99 / 100];
    r.medianMs = ms[ms.size() / 2];
    return r;
}

// One writer through the layer's registry.
Result LayerWriter(int id, int writes) {
    platform::OwnedKey key;
    if (RegCreateKeyW(HKEY_CURRENT_USER, u"Software\\Contention", key.put()) != ERROR_SUCCESS)
        return Result{0, 0, 0, writes};
    std::vector<double> ms;
    int failures = 0;
    for (int i = 0; i < writes; ++i) {
        const std::u16string name =
            i % 2 ? u"shared" : platform::Utf8ToUtf16("w" + std::to_string(id) + "-" + std::to_string(i));
        const DWORD value = static_cast<DWORD>(i);
        const auto start = Clock::now();
        const LSTATUS rc =
            RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        failures += rc != ERROR_SUCCESS;
    }
    return Summarise(std::move(ms), failures);
}

// The same writes through plain SQLite that waits for a busy database with its own timeout.
Result SqliteWriter(const std::string& file, int id, int writes) {
    sqlite3* db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK)
        return Result{0, 0, 0, writes};
    sqlite3_busy_timeout(db, 30'000);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", nullptr, nullptr, nullptr);
    std::vector<double> ms;
    int failures = 0;
    for (int i = 0; i < writes; ++i) {
        const std::string name = i % 2 ? "shared" : "w" + std::to_string(id) + "-" + std::to_string(i);
        const std::string sql = "BEGIN IMMEDIATE; INSERT OR REPLACE INTO vals(name, data) VALUES('" + name + "', " +
                                std::to_string(i) + "); COMMIT;";
        const auto start = Clock::now();
        const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (rc != SQLITE_OK) {
            ++failures;
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    sqlite3_close(db);
    return Summarise(std::move(ms), failures);
}

// Starts `processes` writers that begin together, and merges what they report.
Result Run(int processes, int writes, const std::string& sqliteFile) {
    int go[2];
    if (pipe(go) != 0)
        std::exit(1);
    std::vector<int> reports;
    std::vector<pid_t> pids;
    for (int id = 0; id < processes; ++id) {
        int report[2];
        if (pipe(report) != 0)
            std::exit(1);
        const pid_t pid = fork();
        if (pid == 0) {
            close(go[1]);
            char c;
            [[maybe_unused]] const auto n = read(go[0], &c, 1); // ends when the parent closes its end
            const Result r = sqliteFile.empty() ? LayerWriter(id, writes) : SqliteWriter(sqliteFile, id, writes);
            [[maybe_unused]] const auto w = write(report[1], &r, sizeof r);
            _exit(0);
        }
        close(report[1]);
        reports.push_back(report[0]);
        pids.push_back(pid);
    }
    close(go[0]);
    close(go[1]);
    Result all;
    for (size_t i = 0; i < reports.size(); ++i) {
        Result r;
        if (read(reports[i], &r, sizeof r) != static_cast<ssize_t>(sizeof r))
            r.failures = writes;
        close(reports[i]);
        waitpid(pids[i], nullptr, 0);
        all.worstMs = std::max(all.worstMs, r.worstMs);
        all.p99Ms = std::max(all.p99Ms, r.p99Ms);
        all.medianMs = std::max(all.medianMs, r.medianMs);
        all.failures += r.failures;
    }
    return all;
}

void Print(const char* label, const Result& r, int processes, int writes) {
    std::printf("%s: worst %.2f ms, 99%% %.3f ms, median %.3f ms (%d processes x %d writes, %d failed)\n", label,
                r.worstMs, r.p99Ms, r.medianMs, processes, writes, r.failures);
}

} // namespace

int main(int argc, char** argv) {
    const int writes = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int processes = argc > 2 ? std::atoi(argv[2]) : 2;
    platform::machine::ScopedTestMachine machine;

    // The key exists before the writers start, as a program's settings key does.
    platform::OwnedKey key;
    RegCreateKeyW(HKEY_CURRENT_USER, u"Software\\Contention", key.put());
    key.reset();
    const Result layer = Run(processes, writes, "");

    const std::string file = machine.Folder() + "/plain.db";
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; CREATE TABLE vals(name TEXT PRIMARY KEY, data INTEGER);", nullptr,
                 nullptr, nullptr);
    sqlite3_close(db);
    const Result plain = Run(processes, writes, file);

    Print("registry", layer, processes, writes);
    Print("plain SQLite, busy timeout", plain, processes, writes);
    std::printf("worst latency ratio (registry / plain SQLite): %.3f\n",
                plain.worstMs > 0 ? layer.worstMs / plain.worstMs : 0.0);
    return layer.failures == 0 ? 0 : 1;
}
