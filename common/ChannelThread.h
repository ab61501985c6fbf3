#pragma once
// What the daemons' channel threads share (Halvorn's web and SNMP servers, its Quenrik
// sender and receiver; Quenrik's task receiver and notifier): the set-up of an Ostrel
// endpoint with bounded transfer waits, the receive step and the loop of a served channel,
// and the rule that a thread whose served channel cannot be set up ends the process with
// status 1, so that whoever supervises the daemon starts it again. (Clients keep trying
// instead.) Each daemon keeps its own failure line: Halvorn prints the exception through
// runOrExit, Quenrik a "Fatal Error - " line through exitFatal. Stateless; the endpoint is
// the caller's. Linked as ponmc_channel, so that only programs with channels link Ostrel.

#include <functional>
#include <string>

class APIData;
class Ostrel;

namespace ChannelThread {

// Every wait inside a transfer (the acknowledgement of a chunk sent, the next chunk of a
// message being received) ends after this long: a peer that vanishes mid-message costs
// the thread seconds, never its channel.
constexpr int kTransferTimeoutMs = 5000;

// Runs a thread body that returns only when its channel could not be set up (it throws):
// prints the failure under name, then ends the process with status 1.
[[noreturn]] void runOrExit(const std::function<void()>& body, const char* name);
// Prints "Fatal Error - <function>[<line>]: <text>", then ends the process with status 1.
[[noreturn]] void exitFatal(const char* function, int line, const std::string& text);
// Sets the transfer time-out, then createSocket and bind (server) or connect (client) to
// the port file (an absolute path, resolved here). Throws Exception with the endpoint's
// error text, raised at function/line.
void setUp(Ostrel& endpoint, const std::string& portFile, bool server, const char* function, int line,
           int transferTimeoutMs = kTransferTimeoutMs);
// Receives one message into an emptied text; false, after printing the channel error as
// "<function>[<line>]-Error: <text>", when none came.
bool receive(Ostrel& endpoint, std::string& message, const char* function, int line);
// The loop of a served channel that answers nothing: receives for ever, parses each message
// into one reused envelope and hands it to handle. A channel error, or an exception out of
// the parse or handle, is printed under function/line and the loop goes on.
[[noreturn]] void serve(Ostrel& endpoint, const std::function<void(APIData&)>& handle, const char* function, int line);

}  // namespace ChannelThread
