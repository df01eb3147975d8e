#include "platform/base/machine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

TEST(Machine, ScopedTestMachineIsPrivateAndRemoved) {
    std::string folder;
    {
        platform::machine::ScopedTestMachine machine;
        folder = machine.Folder();
        EXPECT_EQ(platform::machine::Folder(), folder);
        EXPECT_TRUE(std::filesystem::is_directory(folder));
        // Child processes find the same folder through the environment.
        ASSERT_NE(std::getenv("WINLAYER_MACHINE"), nullptr);
        EXPECT_EQ(std::string(std::getenv("WINLAYER_MACHINE")), folder);
        EXPECT_EQ(platform::machine::PathOf("registry"), folder + "/registry");
        const std::string scratch = machine.Scratch("files");
        EXPECT_TRUE(std::filesystem::is_directory(scratch));
        EXPECT_EQ(scratch.rfind(folder, 0), 0u);

        platform::machine::ScopedTestMachine nested;
        EXPECT_NE(nested.Folder(), folder);
        EXPECT_EQ(platform::machine::Folder(), nested.Folder());
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
}

namespace {
int g_resets = 0;
void CountReset() {
    ++g_resets;
}
} // namespace

TEST(Machine, ListenersHearOfAFolderChange) {
    static const bool added = (platform::machine::AddResetListener(&CountReset), true);
    ASSERT_TRUE(added);
    const int before = g_resets;
    { platform::machine::ScopedTestMachine machine; }
    EXPECT_EQ(g_resets, before + 2); // once in, once back out
}
