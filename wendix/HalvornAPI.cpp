#include "HalvornAPI.h"

#include <cstdio>

#include "Exception.h"
#include "Paths.h"
#include "PrintException.h"

namespace {

// Turns the envelope into a response that carries the error text. createResponse alone
// builds the text but leaves the envelope's error field empty (only a parsed response fills
// it), and the callers read the error field: parse the text back.
void setErrorResponse(APIData& envelope, const std::string& message) {
    envelope.createResponse(message, "");
    const std::string text = envelope.getJsonProtocol();
    envelope.parseResponse(text.c_str(), static_cast<int>(text.size()));
}

}  // namespace

HalvornAPI* HalvornAPI::getInstance() {
    static HalvornAPI* instance = new HalvornAPI();
    return instance;
}

HalvornAPI::HalvornAPI() : portFile_(Paths::resolve(Paths::kSnmpIpc)), client_(makeClient()) {}

ApiClient HalvornAPI::makeClient() {
    ApiClient::Options o;
    // The agent's one thread runs every exchange inside its SNMP loop: the port file is
    // tested once, and there is no exchange time-out beyond the phases' own limits.
    o.portFileWaitMs = 0;
    o.pingAttempts = 1;
    o.pingTimeoutMs = pingTimeoutMs_;
    o.transferTimeoutMs = kTransferTimeoutMs;
    o.responseTimeoutMs = replyTimeoutMs_;
    o.lockWaitMs = kLockWaitMs;
    o.lockPauseMs = 5;
    o.lockPauseMaxMs = 5;
    o.exchangeTimeoutMs = ApiClient::kNoExchangeTimeout;
    o.unreachableHoldMs = unreachableHoldMs_;
    // The texts the channel's connect gives for the same cases, or the channel's own error.
    o.texts.noPortFile = "Timeout watting ipc: {file}";
    o.texts.portFileUnreadable = "Impossible to open read-write ipc: {file}";
    o.texts.channelBusy = "Timeout locking ipc: {file}";
    o.texts.notConnected = "{why}";
    o.texts.notSent = "{why}";
    o.texts.noResponse = "No response on {file}";
    o.texts.notReceived = "{why}";
    o.texts.heldUnreachable = "Halvorn did not answer on {file}";
    // Room for a reply like the largest one so far: a big table is then received without
    // growing (and copying) the text chunk by chunk.
    o.largestReply = &largestReply_;
    return ApiClient(portFile_, kOwnPort, std::move(o));
}

void HalvornAPI::setPortFileForTest(const std::string& path) {
    portFile_ = path;
    client_ = makeClient();
}

void HalvornAPI::setLimitsForTest(int pingTimeoutMs, int replyTimeoutMs, int unreachableHoldMs) {
    pingTimeoutMs_ = pingTimeoutMs;
    replyTimeoutMs_ = replyTimeoutMs;
    unreachableHoldMs_ = unreachableHoldMs;
    client_ = makeClient();
}

APIData HalvornAPI::doRequestApiData(const std::string& action, const std::string& uri, const std::string& data) {
    APIData envelope;
    try {
        // Read as parseResponse would (same results, same exceptions), but a table's compact
        // text is taken by position after a syntax check, in place: no parse tree of the
        // whole table and no second copy of it, which cost milliseconds and, for 2048 ONUs,
        // a few MiB of the agent's peak memory.
        const ApiClient::Response response = client_.request(action, uri, data);
        if (response.err.empty()) envelope.createResponseCompact(response.data);
        else setErrorResponse(envelope, response.err);
    } catch (const Exception& e) {
        printException(__func__, __LINE__, e);
        try {
            setErrorResponse(envelope, e.getMessage());
        } catch (...) {}
    } catch (...) {
        // Whatever went wrong, the caller must not take the envelope for an answer.
        printUnexpectedException(__func__, __LINE__);
        try {
            setErrorResponse(envelope, "Unexpected exception");
        } catch (...) {}
    }
    return envelope;
}

bool HalvornAPI::doRequest(const std::string& action, const std::string& uri, const std::string& data) {
    APIData response = doRequestApiData(action, uri, data);
    if (response.getError().empty()) return true;
    std::printf("%s[%d]: Error: %s\n", __func__, __LINE__, response.getError().c_str());
    return false;
}
