// The shell tests' fixture: a machine folder of its own with T: over a scratch folder and C: over the user's home,
// whose desktop data (XDG folders) lies in the scratch too.
#pragma once

#include "platform/fs/paths.h"
#include "platform/testing/scratch_drive.h"

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace shelltest {

// Sets environment variables for the test's life and puts the old values back.
class ScopedEnv {
public:
    void Set(const char* name, const std::string& value) {
        if (!m_saved.count(name)) {
            const char* old = std::getenv(name);
            m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        for (const auto& [name, value] : m_saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<std::string>> m_saved;
};

class ShellTest : public testsupport::ScratchDriveTest {
protected:
    ShellTest() {
        m_home = m_machine.Scratch("home");
        platform::fs::DriveInfo c;
        c.letter = u'C';
        c.hostRoot = m_home;
        EXPECT_TRUE(platform::fs::SetDrive(c));
        m_env.Set("HOME", m_home);
        m_env.Set("XDG_CONFIG_HOME", m_home + "/.config");
        m_env.Set("XDG_DATA_HOME", m_home + "/.local/share");
        m_env.Set("XDG_DATA_DIRS", m_machine.Scratch("share"));
        m_env.Set("XDG_CONFIG_DIRS", m_machine.Scratch("etc"));
    }
    std::string m_home;
    ScopedEnv m_env;
};

} // namespace shelltest
