#include "RequestWorker.h"

#include <cstdio>

#include "APIData.h"
#include "ChannelThread.h"
#include "Exception.h"
#include "Manager.h"
#include "Paths.h"
#include "PrintException.h"
#include "ipc/Ostrel"

namespace {

// A request channel that cannot be set up leaves the daemon deaf on it: it ends so that
// whoever supervises it starts it again.
void runRequestWorker(RequestWorker* worker) {
    ChannelThread::runOrExit([worker] { worker->threadWorker(); }, "runRequestWorker");
}

}  // namespace

RequestWorker::RequestWorker(int ownPort, const char* portFile) : ownPort_(ownPort), portFile_(portFile) {}

void RequestWorker::startWorker() { thread_ = std::thread(runRequestWorker, this); }

void RequestWorker::waitWorkerFinish() {
    if (thread_.joinable()) thread_.join();
}

void RequestWorker::threadWorker() {
    Ostrel endpoint(ownPort_);
    ChannelThread::setUp(endpoint, portFile_, true, __func__, __LINE__);
    // The client waits for its response right after its request, so it answers the reply's
    // ping at once. With the channel's default limits (300 pings of 5 s) a client that died
    // mid-exchange would keep this channel deaf for 25 minutes; three pings are plenty. The
    // per-ping wait stays at the default: a second ping sent while a slow client's pong is
    // on its way would be read by that client as the message itself.
    endpoint.setPingLimits(kReplyPingAttempts, kReplyPingTimeoutMs);

    Manager* manager = Manager::getInstance();
    APIData envelope;
    std::string message;
    for (;;) {
        if (!ChannelThread::receive(endpoint, message, __func__, __LINE__)) continue;
        try {
            envelope.clearAll();
            envelope.parseRequest(message.data(), static_cast<int>(message.size()));
            manager->handlerApiRequest(&envelope);
        } catch (const Exception& e) {
            printException(__func__, __LINE__, e);
            envelope.createResponse(e.getMessage(), "");
        } catch (...) {
            // Sending the envelope as it stands would hand the client its own request (or
            // nothing it can parse); a plain error response keeps one real answer per request.
            printUnexpectedException(__func__, __LINE__);
            try {
                envelope.createResponse("Unexpected exception", "");
            } catch (...) {}
        }
        if (endpoint.send(envelope.getJsonProtocol()) < 0)
            std::printf("%s[%d]-Error: %s\n", __func__, __LINE__, endpoint.getErrorMessage());
    }
}
