#pragma once
// One ONU logical link as the PON-card manager knows it: MAC, place, optics, OLT queue
// numbers and status flags, all text values of a Container member ("1"/"0" for booleans).
// Each accessor is one locked read or write of that member; a sequence of them is not
// atomic, so an owner sharing the record between threads serialises its use.
// setDownstreamQueue throws std::invalid_argument when the text holds no hex digit.

#include <string>

#include "Container.h"

class OnuLink {
public:
    explicit OnuLink(const std::string& macAddress);
    virtual ~OnuLink();
    OnuLink(const OnuLink&) = delete;
    OnuLink& operator=(const OnuLink&) = delete;

    std::string getMacAddress() const;
    // The MAC without colons: twelve hex digits.
    std::string getHexMacAddress() const;

    void setPonPort(const std::string& value);
    std::string getPonPort() const;
    void setIsGigabit(bool value);
    bool getIsGigabit() const;
    void setTemperature(const std::string& value);
    std::string getTemperature() const;
    void setSupplyVoltage(const std::string& value);
    std::string getSupplyVoltage() const;
    void setTxBiasCurrent(const std::string& value);
    std::string getTxBiasCurrent() const;
    void setTxPowerInput(const std::string& value);
    std::string getTxPowerInput() const;
    void setTxPowerOutput(const std::string& value);
    std::string getTxPowerOutput() const;

    // Hex text of the OLT's downstream queue; also recomputes the three P2P queues:
    // b = 3*q + 0x1A14 (mod 65536) -> down b, up b+1, broadcast b+2, as 4-digit upper hex.
    void setDownstreamQueue(const std::string& value);
    std::string getDownstreamQueue() const;
    void setUpstreamQueue(const std::string& value);
    std::string getUpstreamQueue() const;
    void setMultiCastQueue(const std::string& value);
    std::string getMultiCastQueue() const;
    std::string getDownstreamP2PQueue() const;
    std::string getUpstreamP2PQueue() const;
    std::string getBroadcastP2PQueue() const;
    // 0 without a downstream queue, else the (16-bit) queue number + 512.
    int getDestinationId() const;

    void setEthernetUpStatus(bool value);
    bool getEthernetUpStatus() const;
    void setOnlineStatus(bool value);
    bool getOnlineStatus() const;
    // Joins alarm texts with "," (no blanks).
    void addAlarmMessage(const std::string& text);
    void clearAlarmMessage();
    std::string getAlarmMessage() const;
    void setStatusReported(bool value);
    bool getStatusReported() const;
    void setSlotId(const std::string& value);
    std::string getSlotId() const;
    void setHasDestination(bool value);
    bool hasDestination() const;

    // Takes over the string members of declared keys ("id" excluded).
    bool setJsonData(const std::string& text);
    // Every key (and "id") in ascending order, cJSON's formatted print.
    std::string getJsonData() const;
    bool getHasModified() const;
    void clearHasModified();

private:
    Container data_;
};
