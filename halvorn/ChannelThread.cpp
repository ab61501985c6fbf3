#include "ChannelThread.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "Exception.h"
#include "Paths.h"
#include "ipc/Ostrel"

namespace ChannelThread {

void runOrExit(const std::function<void()>& body, const char* name) {
    try {
        body();
    } catch (const Exception& e) {
        std::printf("%s[%d]: Exception: %s\n", name, __LINE__, e.what());
    } catch (...) {
        std::printf("%s[%d]: Unexpected exception\n", name, __LINE__);
    }
    std::fflush(stdout);
    ::_exit(EXIT_FAILURE);
}

void setUp(Ostrel& endpoint, const std::string& portFile, bool server, const char* function, int line) {
    const std::string path = Paths::resolve(portFile);
    endpoint.setTransferTimeout(kTransferTimeoutMs);
    if (!endpoint.createSocket() || !(server ? endpoint.bind(path.c_str()) : endpoint.connect(path.c_str())))
        throw Exception(endpoint.getErrorMessage(), function, line);
}

bool receive(Ostrel& endpoint, std::string& message, const char* function, int line) {
    message.clear();
    if (endpoint.recv(message) >= 0) return true;
    std::printf("%s[%d]-Error: %s\n", function, line, endpoint.getErrorMessage());
    return false;
}

}  // namespace ChannelThread
