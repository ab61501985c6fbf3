#pragma once
// What the daemon's channel threads (web and SNMP servers, Quenrik sender and receiver)
// share: the set-up of their Ostrel endpoint with bounded transfer waits, the receive step
// of a server loop, and the rule that a thread whose served channel cannot be set up ends
// the process with a failure status, so that whoever supervises the daemon starts it
// again. (The task sender is a client: it keeps trying instead.) Stateless; the endpoint
// is the caller's.

#include <functional>
#include <string>

class Ostrel;

namespace ChannelThread {

// Every wait inside a transfer (the acknowledgement of a chunk sent, the next chunk of a
// message being received) ends after this long: a peer that vanishes mid-message costs
// the thread seconds, never its channel.
constexpr int kTransferTimeoutMs = 5000;

// Runs a thread body that returns only when its channel could not be set up (it throws):
// prints the failure under name, then ends the process with status 1.
[[noreturn]] void runOrExit(const std::function<void()>& body, const char* name);
// Sets the transfer time-out, then createSocket and bind (server) or connect (client) to
// the port file (an absolute path, resolved here). Throws Exception with the endpoint's
// error text, raised at function/line.
void setUp(Ostrel& endpoint, const std::string& portFile, bool server, const char* function, int line);
// Receives one message into an emptied text; false, after printing the channel error as
// "<function>[<line>]-Error: <text>", when none came.
bool receive(Ostrel& endpoint, std::string& message, const char* function, int line);

}  // namespace ChannelThread
