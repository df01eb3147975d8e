// The shared library as its callers load it: the twelve exports by name and nothing else.

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace {

TEST(Exports, LibraryExportsTheTwelveFunctionsByName) {
    // The library stays mapped after dlclose, as it stays loaded for the life of the program that links it.
    void* library = dlopen(BRANNIC_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(library, nullptr) << dlerror();
    const char* names[] = {"KovraAreFilesEqual", "KovraCancelJob",         "KovraCopyFile",    "KovraCopyPath",
                           "KovraCreateJob",     "KovraGetCompleteResult", "KovraIsDirectory", "KovraQueryJob",
                           "KovraRemovePath",    "KovraRenamePath",        "KovraTest",        "KovraUpdateDir"};
    for (const char* name : names)
        EXPECT_NE(dlsym(library, name), nullptr) << name;
    // The library's own steps and the platform layer inside it stay hidden.
    for (const char* hidden : {"dir_walk_recurse", "notify", "build_directory", "CopyFileExW", "GetLastError"})
        EXPECT_EQ(dlsym(library, hidden), nullptr) << hidden;

    using Test = int (*)();
    using Query = int (*)(void*);
    EXPECT_EQ(reinterpret_cast<Test>(dlsym(library, "KovraTest"))(), 0);
    EXPECT_EQ(reinterpret_cast<Query>(dlsym(library, "KovraQueryJob"))(nullptr), 6);
    dlclose(library);
}

} // namespace
