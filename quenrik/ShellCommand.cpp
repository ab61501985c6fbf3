#include "ShellCommand.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

bool ShellCommand::readOutput(const std::string& command, std::string& output, std::size_t maxBytes) {
    output.clear();
    int pipeFds[2] = {-1, -1};
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 onto standard output clears close-on-exec for the child's copy only.
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, "/bin/sh", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (rc != 0) {
        ::close(pipeFds[0]);
        return false;
    }
    char block[256];
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], block, sizeof block);
        if (n > 0) {
            const std::size_t room = maxBytes > output.size() ? maxBytes - output.size() : 0;
            output.append(block, static_cast<std::size_t>(n) < room ? static_cast<std::size_t>(n) : room);
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}
