#include "PrintException.h"

#include <cstdio>

void printException(const char* function, int line, const std::exception& e) {
    std::printf("%s[%d]: Exception: %s\n", function, line, e.what());
}

void printUnexpectedException(const char* function, int line) {
    std::printf("%s[%d]: Unexpected exception\n", function, line);
}
