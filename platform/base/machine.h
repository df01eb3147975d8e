// The machine folder: where everything lives that Windows would keep for the machine.
//
// Registry hives, the drive table, disk images, services, the window broker's sockets and the attribute store
// all live below one folder. It is named by the environment variable WINLAYER_MACHINE, else it is
// $XDG_DATA_HOME/winlayer/machine (or ~/.local/share/winlayer/machine). Tests make their own with
// ScopedTestMachine so that nothing they do touches the user's own.
#pragma once

#include <string>

namespace platform::machine {

// The machine folder, created on first use.
const std::string& Folder();
// A path below the machine folder (the sub-folders are created on demand by their owners).
std::string PathOf(const std::string& relative);
// Points this process at another machine folder (and exports WINLAYER_MACHINE so child processes follow).
// Layers that cache state from the folder are told through listeners.
void SetFolder(const std::string& folder);
using ResetListener = void (*)();
void AddResetListener(ResetListener listener);

// Test helper: makes a fresh machine folder in a temporary directory, points the process at it, and removes
// it (and returns to the previous one) when destroyed.
class ScopedTestMachine {
public:
    ScopedTestMachine();
    ~ScopedTestMachine();
    ScopedTestMachine(const ScopedTestMachine&) = delete;
    ScopedTestMachine& operator=(const ScopedTestMachine&) = delete;
    const std::string& Folder() const { return m_folder; }
    // A scratch folder inside the machine folder for the test's own files.
    std::string Scratch(const std::string& name) const;

private:
    std::string m_folder;
    std::string m_previous;
};

} // namespace platform::machine
