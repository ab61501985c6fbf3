#include "ShellRunner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>

#include "Paths.h"

extern char** environ;

namespace ShellRunner {

int run(const std::string& command, std::string* output, std::size_t maxBytes) {
    int pipeFds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output) {
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
            posix_spawn_file_actions_destroy(&actions);
            return -1;
        }
        // dup2 onto standard output clears close-on-exec for the child's copy only.
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    }
    std::fflush(stdout);
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, "/bin/sh", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (output) {
        ::close(pipeFds[1]);
        if (rc == 0) {
            std::size_t kept = 0;
            char block[499];
            for (;;) {
                const ssize_t n = ::read(pipeFds[0], block, sizeof block);
                if (n > 0) {
                    const std::size_t room = maxBytes - kept;
                    const std::size_t take = static_cast<std::size_t>(n) < room ? static_cast<std::size_t>(n) : room;
                    output->append(block, take);
                    kept += take;
                } else if (n == 0 || errno != EINTR) {
                    break;
                }
            }
        }
        ::close(pipeFds[0]);
    }
    if (rc != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

std::string shellPath(const std::string& absolutePath) {
    std::string path = Paths::resolve(absolutePath);
    bool plain = !path.empty();
    for (unsigned char c : path) {
        if (!(std::isalnum(c) || c == '/' || c == '.' || c == '_' || c == '+' || c == '-')) plain = false;
    }
    if (plain) return path;
    std::string quoted = "'";
    for (char c : path) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

}  // namespace ShellRunner
