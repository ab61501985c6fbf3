#include "UDPSocket.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Exception.h"
#include "RequestMessage.h"
#include "ResponseMessage.h"
#include "SocketHelper.h"
#include "TKMessage.h"

UDPSocket::UDPSocket() = default;

UDPSocket::~UDPSocket() {
    if (helper_ != nullptr) helper_->unregisterUDPSocket(this);
}

void UDPSocket::start(const std::string& interface, const std::string& slot) {
    start(*SocketHelper::getInstance(interface), slot);
}

void UDPSocket::start(SocketHelper& helper, const std::string& slot) {
    slot_ = slot;
    helper_ = &helper;
    helper.registerUDPSocket(this);
}

void UDPSocket::setClientIpAddress(const std::string& ip) {
    sockaddr_in address{};
    if (!ip.empty()) {
        address.sin_family = AF_INET;
        address.sin_port = htons(SocketHelper::kPort);
        // Checked before anything changes: a refused address leaves the slot as it was.
        if (::inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) {
            throw Exception("Invalid OLT ip address " + ip + " to slot " + slot_, "setClientIpAddress", __LINE__);
        }
    }
    std::lock_guard<std::mutex> lock(addressMutex_);
    oltAddress_ = address;
    oltIp_ = ip;
}

void UDPSocket::clearClientIpAddress() {
    std::lock_guard<std::mutex> lock(addressMutex_);
    oltIp_.clear();
    std::memset(&oltAddress_, 0, sizeof oltAddress_);
}

std::string UDPSocket::getClientIpAddress() const {
    std::lock_guard<std::mutex> lock(addressMutex_);
    return oltIp_;
}

bool UDPSocket::hasClientIpAddress(const sockaddr_in& address) const {
    std::lock_guard<std::mutex> lock(addressMutex_);
    return !oltIp_.empty() && std::memcmp(&oltAddress_, &address, sizeof address) == 0;
}

bool UDPSocket::getClientAddress(sockaddr_in& address) const {
    std::lock_guard<std::mutex> lock(addressMutex_);
    if (oltIp_.empty()) return false;
    address = oltAddress_;
    return true;
}

bool UDPSocket::processRxQueue(std::unique_ptr<TKMessage>& message) {
    if (!message) return false;
    {
        std::unique_lock<std::mutex> lock(replyMutex_);
        if (awaiting_ && message->getId() == expectedId_ && message->getCtag() == expectedCtag_) {
            const bool last = message->getIsLastMessage();
            bool taken = false;
            if (response_ != nullptr) {
                response_->addResponseMessage(std::move(message));
                taken = true;
            }
            if (last) {
                lastPartReceived_ = true;
                // A second answer to the same request (the reply to an earlier try arriving
                // after a retry went out) must not be collected twice.
                awaiting_ = false;
            }
            ++signalCount_;
            // The flag and the count are written under the lock; waking after releasing it
            // spares the sender from waking straight into a held lock.
            lock.unlock();
            replySignal_.notify_all();
            return taken;
        }
    }
    if (message->getId() >= TKMessage::kUnsolicitedId) {
        std::lock_guard<std::mutex> lock(eventMutex_);
        if (events_.size() >= kMaxEvents) {
            events_.pop_front();
            if (!eventDropPrinted_) {
                std::printf("Event queue of slot %s full: dropping its oldest unsolicited messages\n", slot_.c_str());
                std::fflush(stdout);
                eventDropPrinted_ = true;
            }
        }
        events_.push_back(std::move(message));
        return true;
    }
    return false;
}

void UDPSocket::setGlobalResponseMessage(ResponseMessage* response) {
    std::lock_guard<std::mutex> lock(replyMutex_);
    response_ = response;
}

void UDPSocket::clearGlobalResponseMessage() {
    std::lock_guard<std::mutex> lock(replyMutex_);
    response_ = nullptr;
}

bool UDPSocket::addGlobalResponseMessage(std::unique_ptr<TKMessage>& message) {
    std::lock_guard<std::mutex> lock(replyMutex_);
    if (response_ == nullptr) return false;
    response_->addResponseMessage(std::move(message));
    return true;
}

int UDPSocket::waitForResponse() {
    std::unique_lock<std::mutex> lock(replyMutex_);
    const uint64_t seen = signalCount_;
    return replySignal_.wait_for(lock, responseTimeout_, [&] { return signalCount_ != seen; }) ? 0 : ETIMEDOUT;
}

void UDPSocket::freeWaitForResponse() {
    std::lock_guard<std::mutex> lock(replyMutex_);
    ++signalCount_;
    replySignal_.notify_all();
}

void UDPSocket::pullAllAlarm(ResponseMessage* response) {
    if (response == nullptr) return;
    std::lock_guard<std::mutex> lock(eventMutex_);
    while (!events_.empty()) {
        response->addResponseMessage(std::move(events_.front()));
        events_.pop_front();
    }
    eventDropPrinted_ = false;
}

void UDPSocket::pullAllAlarm(std::vector<std::unique_ptr<TKMessage>>& messages) {
    std::lock_guard<std::mutex> lock(eventMutex_);
    while (!events_.empty()) {
        messages.push_back(std::move(events_.front()));
        events_.pop_front();
    }
    // A queue that cannot keep more than it holds would grow back at once; give it back.
    std::deque<std::unique_ptr<TKMessage>>().swap(events_);
    eventDropPrinted_ = false;
}

size_t UDPSocket::getEventQueueSizeForTest() const {
    std::lock_guard<std::mutex> lock(eventMutex_);
    return events_.size();
}

void UDPSocket::expectReply(uint16_t id, uint16_t ctag) {
    std::lock_guard<std::mutex> lock(replyMutex_);
    awaiting_ = true;
    expectedId_ = id;
    expectedCtag_ = ctag;
    lastPartReceived_ = false;
}

bool UDPSocket::waitForLastPart() {
    std::unique_lock<std::mutex> lock(replyMutex_);
    // The flag is tested and waited on under the same lock, so a part that arrives between
    // the test and the wait still wakes us. The monotonic clock keeps a time change by NTP
    // or by the operator from stretching or cutting the wait.
    while (!lastPartReceived_) {
        const uint64_t seen = signalCount_;
        if (!replySignal_.wait_for(lock, responseTimeout_, [&] { return signalCount_ != seen; })) return false;
    }
    return true;
}

void UDPSocket::sendRequestMessage(const RequestMessage* request, ResponseMessage* response) {
    if (response == nullptr) {
        throw Exception("Impossible to allocate a new Response Message", "sendRequestMessage", __LINE__);
    }
    sockaddr_in olt{};
    if (!getClientAddress(olt)) {
        throw Exception("Client ip address empty to slot " + slot_, "sendRequestMessage", __LINE__);
    }
    std::lock_guard<std::mutex> exchange(sendMutex_);
    setGlobalResponseMessage(response);
    bool failed = false;
    try {
        if (request != nullptr) {
            for (const auto& message : request->getAll()) {
                bool answered = false;
                for (int tries = 0; tries < kTries && !answered; ++tries) {
                    expectReply(message->getId(), message->getCtag());
                    if (helper_ != nullptr) helper_->send(*message, olt);
                    answered = waitForLastPart();
                }
                if (!answered) {
                    failed = true;
                    break;
                }
            }
        }
    } catch (...) {
        std::fprintf(stderr, "Error on SendRequestMessage\n");
        failed = true;
    }
    {
        std::lock_guard<std::mutex> lock(replyMutex_);
        awaiting_ = false;
        response_ = nullptr;
    }
    if (failed) throw Exception("Impossible to send messages to card", "sendRequestMessage", __LINE__);
}
