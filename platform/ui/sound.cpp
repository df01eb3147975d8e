// Sounds played by the sound server's own player program, one at a time: a file by its host path, a resource
// through the player's standard input.
#include "platform/ui/sound.h"

#include "platform/base/errors.h"
#include "platform/fs/paths.h"
#include "platform/res/resources.h"

#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The player program along PATH, or empty.
std::string FindPlayer() {
    const char* path = std::getenv("PATH");
    if (!path)
        return {};
    for (const char* name : {"pw-play", "paplay"}) {
        std::string list = path;
        size_t start = 0;
        while (start <= list.size()) {
            const size_t end = std::min(list.find(':', start), list.size());
            std::string folder = list.substr(start, end - start);
            if (folder.empty())
                folder = ".";
            const std::string candidate = folder + "/" + name;
            struct stat info {};
            if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0)
                return candidate;
            start = end + 1;
        }
    }
    return {};
}

// The sound playing now: its player process, ended by stop or by itself.
class Player {
public:
    static Player& Get() {
        static auto* player = new Player;
        return *player;
    }

    bool Busy() {
        std::lock_guard lock(m_mutex);
        return m_playing;
    }

    void Stop() {
        std::unique_lock lock(m_mutex);
        ++m_generation;
        if (m_pid > 0)
            kill(m_pid, SIGTERM);
        m_done.wait(lock, [&] { return !m_playing; });
    }

    // Starts the player on a file (host path) or on bytes fed to its standard input; waits for its end unless
    // asynchronous. FALSE when it could not start, or (waiting) when it failed.
    bool Play(const std::string& program, const std::string& file, std::vector<BYTE> data, bool async, bool loop) {
        Stop();
        std::unique_lock lock(m_mutex);
        const unsigned generation = ++m_generation;
        pid_t pid = Start(program, file, data);
        if (pid <= 0)
            return false;
        m_pid = pid;
        m_playing = true;
        auto result = std::make_shared<std::optional<bool>>();
        std::thread([this, program, file, data = std::move(data), loop, generation, pid, result]() mutable {
            for (;;) {
                int status = 0;
                while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
                }
                const bool played = WIFEXITED(status) && WEXITSTATUS(status) == 0;
                std::lock_guard guard(m_mutex);
                if (!result->has_value())
                    *result = played;
                if (loop && played && generation == m_generation) {
                    pid = Start(program, file, data);
                    if (pid > 0) {
                        m_pid = pid;
                        continue;
                    }
                }
                m_pid = -1;
                m_playing = false;
                m_done.notify_all();
                return;
            }
        }).detach();
        if (async)
            return true;
        m_done.wait(lock, [&] { return result->has_value(); });
        return **result;
    }

private:
    // The player process; the bytes, when there are any, go to its standard input (a pipe written here).
    static pid_t Start(const std::string& program, const std::string& file, const std::vector<BYTE>& data) {
        int input[2] = {-1, -1};
        if (file.empty() && pipe2(input, O_CLOEXEC) != 0)
            return -1;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (file.empty())
            posix_spawn_file_actions_adddup2(&actions, input[0], 0);
        else
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> args{program};
        if (!file.empty())
            args.push_back(file);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (file.empty()) {
            close(input[0]);
            if (spawned == 0) {
                std::thread([fd = input[1], data] {
                    // A player that gives up breaks the pipe: the write fails instead of signalling the process.
                    sigset_t pipeSignal;
                    sigemptyset(&pipeSignal);
                    sigaddset(&pipeSignal, SIGPIPE);
                    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
                    size_t written = 0;
                    while (written < data.size()) {
                        const ssize_t n = write(fd, data.data() + written, data.size() - written);
                        if (n < 0 && errno == EINTR)
                            continue;
                        if (n <= 0)
                            break;
                        written += static_cast<size_t>(n);
                    }
                    close(fd);
                }).detach();
            } else {
                close(input[1]);
            }
        }
        return spawned == 0 ? pid : -1;
    }

    Player() = default;

    std::mutex m_mutex;
    std::condition_variable m_done;
    pid_t m_pid = -1;
    bool m_playing = false;
    unsigned m_generation = 0;
};

} // namespace

BOOL PlaySoundW(LPCWSTR sound, HMODULE module, DWORD flags) {
    Player& player = Player::Get();
    if (!sound || (flags & SND_PURGE)) {
        player.Stop();
        return TRUE;
    }
    if ((flags & SND_NOWAIT) && player.Busy())
        return FALSE;
    std::string file;
    std::vector<BYTE> data;
    if ((flags & SND_RESOURCE) == SND_RESOURCE) {
        HRSRC resource = FindResourceW(module, sound, u"WAVE");
        HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
        const auto* bytes = static_cast<const BYTE*>(loaded ? LockResource(loaded) : nullptr);
        if (!bytes)
            return FALSE;
        data.assign(bytes, bytes + SizeofResource(module, resource));
    } else if (flags & SND_FILENAME) {
        const auto host = platform::fs::ToHost(sound);
        struct stat info {};
        if (!host || host->kind != platform::fs::PathKind::File || stat(host->path.c_str(), &info) != 0 ||
            !S_ISREG(info.st_mode)) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        file = host->path;
    } else {
        // System sound aliases: none here.
        return FALSE;
    }
    const std::string program = FindPlayer();
    if (program.empty()) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    return player.Play(program, file, std::move(data), (flags & SND_ASYNC) != 0,
                       (flags & SND_ASYNC) && (flags & SND_LOOP));
}
