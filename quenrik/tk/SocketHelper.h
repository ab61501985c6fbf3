#pragma once
// The one UDP socket of a network interface, bound to the card's source address at port
// 14113, and the thread that receives on it and hands each datagram from a known OLT to
// every UDPSocket configured with that OLT's address.
// getInstance() keeps one instance per interface name for the life of the process; tests
// build their own, whose destructor stops the thread and closes the socket.
// Thread-safe: the registered sockets, the source address and the descriptor each have a
// lock (below); the receive thread takes the registry lock, then one UDPSocket lock at a time.
// bind failures and undecodable datagrams are raised inside the receive thread, printed,
// and answered by closing the socket and opening it again after the reopen delay.

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TKMessage;
class UDPSocket;

class SocketHelper {
public:
    // Both ends of the protocol use this port (0x3721).
    static constexpr uint16_t kPort = 14113;
    // Longer datagrams are cut to this size.
    static constexpr size_t kMaxDatagram = 1518;
    // The interface name that means "no device binding": the source address alone decides.
    static constexpr const char* kAnyInterface = "ethX";

    // The process-wide instance for the interface, created and started on first use; never
    // destroyed. Throws "Impossible to allocate SocketHelper to iface: <name>".
    static SocketHelper* getInstance(const std::string& interface);

    SocketHelper();
    virtual ~SocketHelper();
    SocketHelper(const SocketHelper&) = delete;
    SocketHelper& operator=(const SocketHelper&) = delete;

    // Keeps the name and starts the receive thread (once).
    void start(const std::string& interface);
    // The first address reported wins; later calls change nothing. The socket is opened only
    // once an address is known, so this is also the seam through which tests pick 127.0.1.1.
    void setSourceIP(const std::string& ip);
    std::string getSourceIP() const;

    void registerUDPSocket(UDPSocket* socket);
    // Waits for a datagram being handed out to finish, so the socket may be destroyed after.
    void unregisterUDPSocket(UDPSocket* socket);

    // One datagram with the whole message; nothing happens while the socket is closed, and
    // send errors are not reported (the exchange's retries cover a lost request).
    void send(const TKMessage& message, const sockaddr_in& address);
    // True once the socket has been bound for the first time.
    bool hasDone() const { return done_.load(); }

    // The pause before each (re)open; the system's value is one second. The daemon's
    // time-scale seam and the tests shorten it.
    void setReopenDelay(std::chrono::milliseconds delay) { reopenDelayMs_.store(delay.count()); }
    void setReopenDelayForTest(std::chrono::milliseconds delay) { setReopenDelay(delay); }
    unsigned getOpenCountForTest() const { return openCount_.load(); }
    bool isOpenForTest() const;

private:
    void processRxQueue();  // the receive thread
    void bind();
    void receiveUntilFailure(int fd);
    void dispatch(const uint8_t* datagram, size_t length, const sockaddr_in& from);
    void closeSocket();
    // False when the helper is being destroyed.
    bool pauseUnlessStopped(std::chrono::milliseconds pause);

    std::string interface_;  // set by start, before the thread runs

    mutable std::mutex sourceMutex_;
    std::string sourceIP_;  // guarded by sourceMutex_

    std::mutex registryMutex_;
    std::vector<UDPSocket*> sockets_;  // guarded by registryMutex_; not owned

    mutable std::mutex fdMutex_;
    int fd_ = -1;  // guarded by fdMutex_; only the receive thread opens and closes it

    std::thread receiver_;
    std::mutex stopMutex_;
    std::condition_variable stopSignal_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::atomic<unsigned> openCount_{0};
    std::atomic<int64_t> reopenDelayMs_{1000};
};
