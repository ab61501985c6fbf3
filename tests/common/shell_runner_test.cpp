#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "ShellRunner.h"

namespace {

struct RunCase {
    const char* name;
    const char* command;
    std::size_t maxBytes;
    const char* expectedOutput;
    int expectedExit;  // -1: ended by SIGKILL
};

const RunCase kCases[] = {
    {"output and exit status", "echo one; echo two >&2; exit 3", ShellRunner::kNoLimit, "one\n", 3},
    {"output cut at the limit", "printf 12345", 2, "12", 0},
    {"no output wanted", "printf 12345", 0, "", 0},
    // Far more than a pipe holds: the rest is read and dropped, so the child ends.
    {"a flood past the limit does not block the child", "head -c 300000 /dev/zero | tr '\\0' a", 3, "aaa", 0},
    {"a signal is decoded as such", "kill -9 $$", ShellRunner::kNoLimit, "", -1},
};

}  // namespace

TEST(ShellRunner, OutputLimitAndStatus) {
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        std::string output;
        const int status = ShellRunner::run(c.command, &output, c.maxBytes);
        EXPECT_EQ(output, c.expectedOutput);
        if (c.expectedExit < 0) {
            ASSERT_TRUE(WIFSIGNALED(status));
            EXPECT_EQ(SIGKILL, WTERMSIG(status));
        } else {
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(c.expectedExit, WEXITSTATUS(status));
        }
    }
}

// Output is appended to what the text held; without a text the status still comes back.
TEST(ShellRunner, AppendsAndRunsWithoutCapture) {
    std::string output = "kept:";
    ShellRunner::run("printf x", &output);
    EXPECT_EQ("kept:x", output);
    const int status = ShellRunner::run("exit 5");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(5, WEXITSTATUS(status));
}

// Tools are found through the process's PATH: that is how tests put their stand-ins first.
TEST(ShellRunner, FindsToolsThroughPath) {
    char tmpl[] = "/tmp/shell-runner-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(tmpl));
    const std::string dir = tmpl;
    {
        std::ofstream script(dir + "/ping");
        script << "#!/bin/sh\necho stand-in \"$@\"\n";
    }
    ASSERT_EQ(0, ::chmod((dir + "/ping").c_str(), 0755));
    const char* oldPath = std::getenv("PATH");
    const std::string saved = oldPath ? oldPath : "";
    ::setenv("PATH", (dir + ":" + saved).c_str(), 1);
    std::string output;
    ShellRunner::run("ping -w 1", &output);
    ::setenv("PATH", saved.c_str(), 1);
    EXPECT_EQ("stand-in -w 1\n", output);
    ::unlink((dir + "/ping").c_str());
    ::rmdir(dir.c_str());
}
