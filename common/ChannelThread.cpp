#include "ChannelThread.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "APIData.h"
#include "Exception.h"
#include "Paths.h"
#include "PrintException.h"
#include "ipc/Ostrel"

namespace ChannelThread {

void runOrExit(const std::function<void()>& body, const char* name) {
    try {
        body();
    } catch (const Exception& e) {
        printException(name, __LINE__, e);
    } catch (...) {
        printUnexpectedException(name, __LINE__);
    }
    std::fflush(stdout);
    // _exit: the other threads still run, and static destructors must not pull their
    // objects away under them.
    ::_exit(EXIT_FAILURE);
}

void exitFatal(const char* function, int line, const std::string& text) {
    std::printf("Fatal Error - %s[%d]: %s\n", function, line, text.c_str());
    std::fflush(stdout);
    ::_exit(EXIT_FAILURE);
}

void setUp(Ostrel& endpoint, const std::string& portFile, bool server, const char* function, int line,
           int transferTimeoutMs) {
    const std::string path = Paths::resolve(portFile);
    endpoint.setTransferTimeout(transferTimeoutMs);
    if (!endpoint.createSocket() || !(server ? endpoint.bind(path.c_str()) : endpoint.connect(path.c_str())))
        throw Exception(endpoint.getErrorMessage(), function, line);
}

bool receive(Ostrel& endpoint, std::string& message, const char* function, int line) {
    message.clear();
    if (endpoint.recv(message) >= 0) return true;
    std::printf("%s[%d]-Error: %s\n", function, line, endpoint.getErrorMessage());
    return false;
}

void serve(Ostrel& endpoint, const std::function<void(APIData&)>& handle, const char* function, int line) {
    APIData envelope;
    std::string message;
    for (;;) {
        if (!receive(endpoint, message, function, line)) continue;
        try {
            envelope.clearAll();
            envelope.parseRequest(message.data(), static_cast<int>(message.size()));
            handle(envelope);
        } catch (const Exception& e) {
            printException(function, line, e);
        } catch (...) {
            printUnexpectedException(function, line);
        }
    }
}

}  // namespace ChannelThread
