#pragma once
// The one way the daemons run a shell command: "/bin/sh -c <command>" spawned directly in
// the process's own environment, so the shell finds each tool through PATH (how tests and
// the sandbox put their stand-ins first). Spawned rather than system(), which changes the
// signal handling of the whole process while it waits, and rather than fork(), which copies
// the page tables of a process with two dozen threads for nothing.
// Thread-safe: every call has its own pipe and child, reaped before it returns. Never throws.

#include <cstddef>
#include <limits>
#include <string>

namespace ShellRunner {

constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();

// Runs the command and waits for it to end. Standard output is flushed first, so the
// daemon's own lines come before the child's. Without output the child writes to the
// daemon's standard output; with it, the child's standard output goes through a pipe and at
// most maxBytes of it are appended to *output (the rest is read and dropped, so the child
// never blocks on a full pipe). Returns the wait status (WIFEXITED, WEXITSTATUS), or -1 when
// the shell could not be started or reaped. Reads and waits carry on through EINTR.
int run(const std::string& command, std::string* output = nullptr, std::size_t maxBytes = kNoLimit);

// Paths::resolve(absolutePath), single-quoted for the shell only when it holds a character
// outside [A-Za-z0-9/._+-], so ordinary paths keep their plain text in a command line.
std::string shellPath(const std::string& absolutePath);

}  // namespace ShellRunner
