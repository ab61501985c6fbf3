#pragma once
// Collects the TKMessages of one exchange (replies) or of one alarm pull (unsolicited
// messages) and decodes each into a Container record of text values.
// Owns every message and every record; clear() destroys both. Not thread-safe: during an
// exchange only the receive thread appends, under the UDPSocket's reply lock, and the
// sender reads the collector only after the exchange has unregistered it.
// Decoders throw Exception under their own name with the caught full text as message, after
// clearing the whole collector; dispatch and result-check failures throw without clearing.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class Container;
class TKMessage;

class ResponseMessage {
public:
    ResponseMessage();
    virtual ~ResponseMessage();
    ResponseMessage(const ResponseMessage&) = delete;
    ResponseMessage& operator=(const ResponseMessage&) = delete;

    // Appends a received message; the collector owns it from now on.
    void addResponseMessage(std::unique_ptr<TKMessage> message);
    // Decodes every message in order and keeps each record; stops at the first failure.
    void parseAllMessages();
    // Decodes one message by its ID. The record (or nullptr for a reply that carries none)
    // goes to the caller. A decoder failure clears the collector, which destroys message too
    // when the collector owns it.
    std::unique_ptr<Container> parseMessage(const TKMessage* message);

    // The i-th record (still owned here), nullptr when out of range.
    Container* getContainer(size_t i) const;
    size_t getContainerSize() const { return records_.size(); }
    size_t getMessagesSize() const { return messages_.size(); }
    const TKMessage* getMessageAt(size_t i) const;
    void clear();

    // Replies without data: accepts result 0, 2, 4 and any result with bit 3 set (the last
    // three after a pause that gives the OLT time to settle); raises for 1, 3 and the rest.
    void parseCheckResultOk(const TKMessage& message) const;

    // One decoder per reply and unsolicited message; each returns a new record.
    std::unique_ptr<Container> parseGet_OLT_Information(const TKMessage& message);
    std::unique_ptr<Container> parseOLT_Ready(const TKMessage& message);
    std::unique_ptr<Container> parseGet_List_of_All_Known_Logical_Links(const TKMessage& message);
    std::unique_ptr<Container> parseGet_List_of_Discovered_Links(const TKMessage& message);
    std::unique_ptr<Container> parseGet_OAM_Extension_Set_Support(const TKMessage& message);
    std::unique_ptr<Container> parseGet_NVS_Enabled(const TKMessage& message);
    std::unique_ptr<Container> parseGet_All_Domains(const TKMessage& message);
    std::unique_ptr<Container> parseGet_All_Paths(const TKMessage& message);
    std::unique_ptr<Container> parseGet_CTC_21_Optical_Transceiver_Diagnosis(const TKMessage& message);
    std::unique_ptr<Container> parseGet_Destination_Rules(const TKMessage& message);
    std::unique_ptr<Container> parseGet_OLT_PortLink_Rules(const TKMessage& message);
    std::unique_ptr<Container> parseGet_Statistics(const TKMessage& message);
    std::unique_ptr<Container> parseGet_ONU_Information(const TKMessage& message);
    std::unique_ptr<Container> parseGet_OLT_Bridging_Mode(const TKMessage& message);
    std::unique_ptr<Container> parseLink_Discovery(const TKMessage& message);
    std::unique_ptr<Container> parseReport_Alarm(const TKMessage& message);
    std::unique_ptr<Container> parseOnuLinkMovedBetweenPonPorts(const TKMessage& message);

    // The pause after a tolerated result code; the system's value is one second. The daemon's
    // time-scale seam, unit tests and the fuzzer shorten it.
    void setTolerantPause(std::chrono::milliseconds pause) { tolerantPause_ = pause; }
    void setTolerantPauseForTest(std::chrono::milliseconds pause) { setTolerantPause(pause); }

private:
    // The frame every decoder shares: build a record with body; on any failure destroy the
    // record, clear the collector and raise the caught text under the decoder's name.
    std::unique_ptr<Container> decode(const char* decoder, int line, const std::function<void(Container&)>& body);

    std::vector<std::unique_ptr<TKMessage>> messages_;
    std::vector<std::unique_ptr<Container>> records_;
    std::chrono::milliseconds tolerantPause_{1000};
};
