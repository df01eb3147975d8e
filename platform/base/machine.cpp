#include "platform/base/machine.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

namespace platform::machine {

namespace {

constexpr const char* kEnvironmentName = "WINLAYER_MACHINE";

struct State {
    std::mutex mutex;
    std::string folder; // empty until first use
    std::vector<ResetListener> listeners;
};

State& GetState() {
    // Never destroyed: threads may still ask for paths while the process exits.
    static auto* state = new State;
    return *state;
}

std::string DefaultFolder() {
    if (const char* env = std::getenv(kEnvironmentName); env && *env)
        return env;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        return std::string(data) + "/winlayer/machine";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/winlayer/machine";
}

void NotifyListeners() {
    std::vector<ResetListener> listeners;
    {
        std::lock_guard lock(GetState().mutex);
        listeners = GetState().listeners;
    }
    for (ResetListener listener : listeners)
        listener();
}

} // namespace

const std::string& Folder() {
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    if (state.folder.empty()) {
        state.folder = DefaultFolder();
        std::error_code ec;
        std::filesystem::create_directories(state.folder, ec);
    }
    return state.folder;
}

std::string PathOf(const std::string& relative) {
    return Folder() + "/" + relative;
}

void SetFolder(const std::string& folder) {
    {
        State& state = GetState();
        std::lock_guard lock(state.mutex);
        state.folder = folder;
        if (folder.empty()) {
            unsetenv(kEnvironmentName);
        } else {
            std::error_code ec;
            std::filesystem::create_directories(folder, ec);
            setenv(kEnvironmentName, folder.c_str(), 1);
        }
    }
    NotifyListeners();
}

void AddResetListener(ResetListener listener) {
    std::lock_guard lock(GetState().mutex);
    GetState().listeners.push_back(listener);
}

ScopedTestMachine::ScopedTestMachine() {
    {
        // The previous folder is remembered without creating it: a test must not make the user's own folder.
        std::lock_guard lock(GetState().mutex);
        m_previous = GetState().folder;
        if (m_previous.empty()) {
            if (const char* env = std::getenv(kEnvironmentName))
                m_previous = env;
        }
    }
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    std::string pattern = (ec ? std::string("/tmp") : base.string()) + "/winlayer-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        std::abort(); // a test that cannot make its machine folder must not fall back to the user's
    m_folder = pattern;
    SetFolder(m_folder);
}

ScopedTestMachine::~ScopedTestMachine() {
    SetFolder(m_previous);
    std::error_code ec;
    std::filesystem::remove_all(m_folder, ec);
}

std::string ScopedTestMachine::Scratch(const std::string& name) const {
    const std::string path = m_folder + "/scratch/" + name;
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return path;
}

} // namespace platform::machine
