#pragma once
// One slot's end of the OLT protocol: the OLT's address, the request/response exchange
// (sendRequestMessage) and the queue of unsolicited messages the OLT sent meanwhile.
// Sends through a shared SocketHelper (not owned), whose receive thread calls
// processRxQueue. Thread-safe. Locks: sendMutex_ for a whole exchange; then, one at a time,
// replyMutex_ (collector, expected reply, last-part flag, reply signal), eventMutex_ (event
// queue), addressMutex_ (OLT address). The receive thread never holds two of them together.
// sendRequestMessage throws Exception: no collector, no OLT address, or a request that went
// unanswered after three tries ("Impossible to send messages to card").

#include <netinet/in.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class RequestMessage;
class ResponseMessage;
class SocketHelper;
class TKMessage;

class UDPSocket {
public:
    // Each request is sent at most this many times.
    static constexpr int kTries = 3;
    // How long one try waits for the next part of its reply: a full window on the monotonic
    // clock, not up to a whole second of the wall clock plus 5, so the card's own clock
    // setting (NTP, time zone, operator) can neither cut a wait short nor stretch it.
    static constexpr std::chrono::milliseconds kResponseTimeout{5000};
    // Unsolicited messages kept between two pulls.
    static constexpr size_t kMaxEvents = 1024;

    UDPSocket();
    virtual ~UDPSocket();
    UDPSocket(const UDPSocket&) = delete;
    UDPSocket& operator=(const UDPSocket&) = delete;

    // Keeps the slot name and registers with the interface's process-wide SocketHelper.
    void start(const std::string& interface, const std::string& slot);
    // The same with a given helper (tests own theirs).
    void start(SocketHelper& helper, const std::string& slot);

    // Sets the OLT address (port 14113); empty text clears it. Text that is not a dotted
    // IPv4 address throws and leaves the address as it was: a slot must not be left half
    // updated, and requests must never be aimed at a wrong host.
    void setClientIpAddress(const std::string& ip);
    void clearClientIpAddress();
    std::string getClientIpAddress() const;
    // Whether the sender of a datagram is this slot's OLT: address, port and padding alike.
    bool hasClientIpAddress(const sockaddr_in& address) const;

    // Called by the receive thread: a reply to the request in flight goes to the collector
    // and wakes the exchange; an unsolicited message (ID 0x8000 and above) goes to the event
    // queue; anything else is left to the caller to drop. Moves the message out when taken.
    // The event queue keeps the newest kMaxEvents messages: a card that is never polled (one
    // of another product code, say) but keeps sending alarms must not grow it without end.
    // Dropping the oldest is printed once per burst, that is until the queue is next pulled.
    bool processRxQueue(std::unique_ptr<TKMessage>& message);

    void setGlobalResponseMessage(ResponseMessage* response);
    void clearGlobalResponseMessage();
    // Appends to the registered collector (moving the message out); false when none is.
    bool addGlobalResponseMessage(std::unique_ptr<TKMessage>& message);

    // Waits one time-out for the reply signal: 0 when signalled, ETIMEDOUT otherwise.
    int waitForResponse();
    void freeWaitForResponse();

    // Moves every queued unsolicited message, in arrival order, into response.
    void pullAllAlarm(ResponseMessage* response);
    // The same into a list, for a caller that decodes each message on its own.
    void pullAllAlarm(std::vector<std::unique_ptr<TKMessage>>& messages);

    // Sends every request of the batch in order, each up to three times, collecting the
    // replies (every part of a multi-part reply) into response. Replies collected before a
    // failure stay in response.
    void sendRequestMessage(const RequestMessage* request, ResponseMessage* response);

    // The per-try time-out (kResponseTimeout unless changed); set before exchanges start. The
    // daemon's time-scale seam and the tests shorten it.
    void setResponseTimeout(std::chrono::milliseconds timeout) { responseTimeout_ = timeout; }
    void setResponseTimeoutForTest(std::chrono::milliseconds timeout) { setResponseTimeout(timeout); }
    size_t getEventQueueSizeForTest() const;

private:
    bool getClientAddress(sockaddr_in& address) const;
    // Publishes the expected reply and clears the last-part flag before the request leaves,
    // so an answer that arrives at once is neither dropped nor forgotten.
    void expectReply(uint16_t id, uint16_t ctag);
    // True when the last part arrived; each part restarts the time-out.
    bool waitForLastPart();

    std::string slot_;                // set by start
    SocketHelper* helper_ = nullptr;  // set by start; not owned
    std::chrono::milliseconds responseTimeout_{kResponseTimeout};

    mutable std::mutex addressMutex_;
    sockaddr_in oltAddress_{};  // guarded by addressMutex_
    std::string oltIp_;         // guarded by addressMutex_

    std::mutex sendMutex_;  // held for a whole exchange

    mutable std::mutex replyMutex_;
    std::condition_variable replySignal_;
    ResponseMessage* response_ = nullptr;  // guarded by replyMutex_; not owned
    bool awaiting_ = false;                // guarded by replyMutex_
    uint16_t expectedId_ = 0;              // guarded by replyMutex_
    uint16_t expectedCtag_ = 0;            // guarded by replyMutex_
    bool lastPartReceived_ = false;        // guarded by replyMutex_
    uint64_t signalCount_ = 0;             // guarded by replyMutex_; a new part or freeWaitForResponse

    mutable std::mutex eventMutex_;
    std::deque<std::unique_ptr<TKMessage>> events_;  // guarded by eventMutex_
    bool eventDropPrinted_ = false;                  // guarded by eventMutex_
};
