// The rig's error lines: the system's own reason for a path that failed.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "RigErrors.h"
#include "WinInclude.h"

TEST(RigErrors, TheSystemsReasonForAFileAPluginOrATakeThatFailed) {
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    const std::string folder = temp;
    const std::string text = folder + "talvenor-rig-errors.dll";
    FILE* f = std::fopen(text.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("not a library", f);
    std::fclose(f);

    EXPECT_EQ(fileProblem(text), "") << "a readable file has no problem";
    EXPECT_EQ(fileProblem(folder + "missing-backing.wav"), systemMessage(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(fileProblem(folder + "no-such-folder\\backing.wav"), systemMessage(ERROR_PATH_NOT_FOUND));
    EXPECT_NE(systemMessage(ERROR_FILE_NOT_FOUND), systemMessage(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(fileProblem(folder), "it is a folder");
    const std::string longPath = folder + std::string(300, 'x') + ".dll";
    EXPECT_EQ(libraryProblem(longPath),
              "the path is " + std::to_string(longPath.size()) + " characters long; at most 259 are allowed");

    EXPECT_EQ(libraryProblem(text), systemMessage(ERROR_BAD_EXE_FORMAT));
    char system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 0u);
    EXPECT_EQ(libraryProblem(std::string(system) + "\\version.dll"), "it loads, but is not a VST 2 effect this host can use");

    EXPECT_EQ(newFileProblem(folder + "new-take.wav"), "") << "the take's folder is there";
    EXPECT_EQ(newFileProblem(folder + "no-such-folder\\take.wav"), systemMessage(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(newFileProblem(text + "\\take.wav"), "its folder is a file");
    DeleteFileA(text.c_str());
}
