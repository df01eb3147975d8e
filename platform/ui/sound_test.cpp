// Sounds through the sound server's player: a stand-in player on PATH records what it was given.
#include "platform/ui/sound.h"

#include "platform/base/errors.h"
#include "platform/fs/paths.h"
#include "platform/ui/ui_test_support.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

using namespace uitest;

namespace {

class SoundTest : public UiTest {
protected:
    void SetUp() override {
        m_root = m_machine.Scratch("sound");
        platform::fs::DriveInfo drive;
        drive.letter = u'T';
        drive.hostRoot = m_root;
        ASSERT_TRUE(platform::fs::SetDrive(drive));
        std::ofstream(m_root + "/click.wav") << "RIFF-click";
        const char* path = std::getenv("PATH");
        m_oldPath = path ? path : "";
        std::filesystem::create_directories(m_root + "/bin");
        setenv("PATH", (m_root + "/bin:" + m_oldPath).c_str(), 1);
    }
    void TearDown() override {
        PlaySoundW(nullptr, nullptr, 0);
        setenv("PATH", m_oldPath.c_str(), 1);
    }
    // A player that records its arguments and, with `seconds`, plays that long.
    void InstallPlayer(const char* name, int seconds = 0, int exitCode = 0) {
        const std::string script = m_root + "/bin/" + name;
        std::ofstream(script) << "#!/bin/sh\necho \"$@\" >> \"" << m_root << "/played\"\n"
                              << (seconds ? "exec sleep " + std::to_string(seconds) + "\n" : "") << "exit " << exitCode
                              << "\n";
        chmod(script.c_str(), 0755);
    }
    std::string Played() {
        std::ifstream in(m_root + "/played");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string m_root;
    std::string m_oldPath;
};

TEST_F(SoundTest, FilesPlayThroughTheSoundServersPlayer) {
    InstallPlayer("paplay");
    EXPECT_TRUE(PlaySoundW(u"T:\\click.wav", nullptr, SND_FILENAME | SND_NOWAIT | SND_NODEFAULT));
    EXPECT_EQ(Played(), m_root + "/click.wav\n");
    // The PipeWire player comes first where both are there.
    InstallPlayer("pw-play");
    std::filesystem::remove(m_root + "/played");
    EXPECT_TRUE(PlaySoundW(u"T:\\click.wav", nullptr, SND_FILENAME));
    EXPECT_EQ(Played(), m_root + "/click.wav\n");
    // Asynchronous: the call returns, the sound plays.
    std::filesystem::remove(m_root + "/played");
    EXPECT_TRUE(PlaySoundW(u"T:\\click.wav", nullptr, SND_FILENAME | SND_ASYNC));
    EXPECT_TRUE(Eventually([&] { return Played() == m_root + "/click.wav\n"; }));
}

TEST_F(SoundTest, MissingFilesPlayersAndFailuresAnswerFalseQuietly) {
    EXPECT_FALSE(PlaySoundW(u"T:\\click.wav", nullptr, SND_FILENAME)); // no player
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    InstallPlayer("paplay", 0, 1);
    EXPECT_FALSE(PlaySoundW(u"T:\\gone.wav", nullptr, SND_FILENAME));
    EXPECT_FALSE(PlaySoundW(u"SystemAsterisk", nullptr, SND_ALIAS));
    EXPECT_TRUE(Played().empty());
    EXPECT_FALSE(PlaySoundW(u"T:\\click.wav", nullptr, SND_FILENAME)); // the server would not play it
    EXPECT_EQ(Played(), m_root + "/click.wav\n");
}

TEST_F(SoundTest, NoWaitGivesUpWhileASoundPlaysAndNullStopsIt) {
    InstallPlayer("paplay", 30);
    EXPECT_TRUE(PlaySoundW(u"T:\\click.wav", nullptr, SND_FILENAME | SND_ASYNC));
    EXPECT_TRUE(Eventually([&] { return !Played().empty(); }));
    EXPECT_FALSE(PlaySoundW(u"T:\\click.wav", nullptr, SND_FILENAME | SND_ASYNC | SND_NOWAIT));
    EXPECT_TRUE(PlaySoundW(nullptr, nullptr, 0)); // stops it at once
    EXPECT_EQ(Played(), m_root + "/click.wav\n");
}

} // namespace
