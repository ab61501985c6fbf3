#include <gtest/gtest.h>

#include <cstdlib>

#include "Paths.h"

namespace {

struct RootCase {
    const char* name;
    const char* root;  // nullptr: PONMC_ROOT unset
    const char* path;
    const char* expected;
};

const RootCase kCases[] = {
    {"unset keeps the real path", nullptr, "/tmp/web.ipc", "/tmp/web.ipc"},
    {"empty keeps the real path", "", "/mnt/db/json", "/mnt/db/json"},
    {"root prefixes", "/tmp/r1", "/tmp/web.ipc", "/tmp/r1/tmp/web.ipc"},
    {"trailing slash of the root is dropped", "/tmp/r2/", "/sbin/reboot", "/tmp/r2/sbin/reboot"},
    {"root of / is no root", "/", "/etc/network/interfaces", "/etc/network/interfaces"},
    {"relative path untouched", "/tmp/r3", "relative/file", "relative/file"},
};

TEST(Paths, ResolveUnderRoot) {
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        if (c.root) setenv("PONMC_ROOT", c.root, 1);
        else unsetenv("PONMC_ROOT");
        EXPECT_EQ(Paths::resolve(c.path), c.expected);
    }
    unsetenv("PONMC_ROOT");
}

}  // namespace
