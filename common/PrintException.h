#pragma once
// The two lines every loop and operation prints for a failure it caught and carries on
// from: "<function>[<line>]: Exception: <what()>" and "<function>[<line>]: Unexpected
// exception" (something that is no std::exception), on standard output. The caller passes
// its own __func__ and __LINE__, so the line names the function that caught it. Thread-safe
// (one printf each); never throws.

#include <exception>

void printException(const char* function, int line, const std::exception& e);
void printUnexpectedException(const char* function, int line);
