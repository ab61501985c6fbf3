#pragma once
// The one way Quenrik runs a shell command: "/bin/sh -c <command>" started with posix_spawn
// (fork() of a process with two dozen threads copies their page tables for nothing, and
// system() changes the signal handling of the whole process while it waits), its standard
// output read through a pipe, the child reaped. The command is found through PATH, which is
// how tests and the sandbox put their stand-in for ping first. Thread-safe: every call has
// its own pipe and child. Never throws.

#include <cstddef>
#include <string>

namespace ShellCommand {

// Runs the command and returns true with its standard output (at most maxBytes of it; the
// rest is read and dropped so the child never blocks on a full pipe) when it could be started.
bool readOutput(const std::string& command, std::string& output, std::size_t maxBytes);

}  // namespace ShellCommand
