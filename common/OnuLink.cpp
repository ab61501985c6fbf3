#include "OnuLink.h"

#include "Helper.h"

namespace {

const char* flag(bool value) { return value ? "1" : "0"; }

// A queue number as the OLT uses it: hex text, 16 bits. Throws std::invalid_argument when
// the text holds no hex digit (the caller's handler reports it).
uint32_t queueNumber(const std::string& hex) { return static_cast<uint32_t>(std::stoul(hex, nullptr, 16)) & 0xFFFFu; }

}  // namespace

OnuLink::OnuLink(const std::string& macAddress) {
    data_.setNewValue("mac_address", macAddress);
    data_.setNewValue("pon_port", "-");
    data_.setNewValue("is_gigabit", "0");
    data_.setNewValue("temperature", "-");
    data_.setNewValue("supply_voltage", "-");
    data_.setNewValue("tx_bias_current", "-");
    data_.setNewValue("tx_power_input", "-");
    data_.setNewValue("tx_power_output", "-");
    data_.setNewValue("downstream_queue", "");
    data_.setNewValue("upstream_queue", "");
    data_.setNewValue("mcast_queue", "");
    data_.setNewValue("ether_up_status", "0");
    data_.setNewValue("online_status", "0");
    data_.setNewValue("alarm_message", "");
    data_.setNewValue("status_reported", "0");
    data_.setNewValue("slot_id", "-");
    data_.setNewValue("has_destination", "0");
    data_.setNewValue("down_p2p_queue", "0");
    data_.setNewValue("up_p2p_queue", "0");
    data_.setNewValue("brdcst_p2p_queue", "0");
}

OnuLink::~OnuLink() = default;

std::string OnuLink::getMacAddress() const { return data_.getValue("mac_address"); }
std::string OnuLink::getHexMacAddress() const { return Helper::replaceAll(getMacAddress(), ":", ""); }

void OnuLink::setPonPort(const std::string& value) { data_.setValue("pon_port", value, false); }
std::string OnuLink::getPonPort() const { return data_.getValue("pon_port"); }
void OnuLink::setIsGigabit(bool value) { data_.setValue("is_gigabit", flag(value), false); }
bool OnuLink::getIsGigabit() const { return data_.getValue("is_gigabit") == "1"; }
void OnuLink::setTemperature(const std::string& value) { data_.setValue("temperature", value, false); }
std::string OnuLink::getTemperature() const { return data_.getValue("temperature"); }
void OnuLink::setSupplyVoltage(const std::string& value) { data_.setValue("supply_voltage", value, false); }
std::string OnuLink::getSupplyVoltage() const { return data_.getValue("supply_voltage"); }
void OnuLink::setTxBiasCurrent(const std::string& value) { data_.setValue("tx_bias_current", value, false); }
std::string OnuLink::getTxBiasCurrent() const { return data_.getValue("tx_bias_current"); }
void OnuLink::setTxPowerInput(const std::string& value) { data_.setValue("tx_power_input", value, false); }
std::string OnuLink::getTxPowerInput() const { return data_.getValue("tx_power_input"); }
void OnuLink::setTxPowerOutput(const std::string& value) { data_.setValue("tx_power_output", value, false); }
std::string OnuLink::getTxPowerOutput() const { return data_.getValue("tx_power_output"); }

void OnuLink::setDownstreamQueue(const std::string& value) {
    data_.setValue("downstream_queue", value, false);
    // The link's three point-to-point queues sit at fixed offsets from its downstream
    // queue. Each number is kept to 16 bits, the width the OLT takes them in.
    const uint32_t base = (3u * queueNumber(value) + 0x1A14u) & 0xFFFFu;
    data_.setValue("down_p2p_queue", Helper::toStringHex(base, 4), false);
    data_.setValue("up_p2p_queue", Helper::toStringHex((base + 1u) & 0xFFFFu, 4), false);
    data_.setValue("brdcst_p2p_queue", Helper::toStringHex((base + 2u) & 0xFFFFu, 4), false);
}

std::string OnuLink::getDownstreamQueue() const { return data_.getValue("downstream_queue"); }
void OnuLink::setUpstreamQueue(const std::string& value) { data_.setValue("upstream_queue", value, false); }
std::string OnuLink::getUpstreamQueue() const { return data_.getValue("upstream_queue"); }
void OnuLink::setMultiCastQueue(const std::string& value) { data_.setValue("mcast_queue", value, false); }
std::string OnuLink::getMultiCastQueue() const { return data_.getValue("mcast_queue"); }
std::string OnuLink::getDownstreamP2PQueue() const { return data_.getValue("down_p2p_queue"); }
std::string OnuLink::getUpstreamP2PQueue() const { return data_.getValue("up_p2p_queue"); }
std::string OnuLink::getBroadcastP2PQueue() const { return data_.getValue("brdcst_p2p_queue"); }

int OnuLink::getDestinationId() const {
    const std::string queue = getDownstreamQueue();
    if (queue.empty()) return 0;
    return static_cast<int>(queueNumber(queue)) + 512;
}

void OnuLink::setEthernetUpStatus(bool value) { data_.setValue("ether_up_status", flag(value), false); }
bool OnuLink::getEthernetUpStatus() const { return data_.getValue("ether_up_status") == "1"; }
void OnuLink::setOnlineStatus(bool value) { data_.setValue("online_status", flag(value), false); }
bool OnuLink::getOnlineStatus() const { return data_.getValue("online_status") == "1"; }

void OnuLink::addAlarmMessage(const std::string& text) {
    const std::string current = getAlarmMessage();
    data_.setValue("alarm_message", current.empty() ? text : current + "," + text, false);
}

void OnuLink::clearAlarmMessage() { data_.setValue("alarm_message", "", false); }
std::string OnuLink::getAlarmMessage() const { return data_.getValue("alarm_message"); }
void OnuLink::setStatusReported(bool value) { data_.setValue("status_reported", flag(value), false); }
bool OnuLink::getStatusReported() const { return data_.getValue("status_reported") == "1"; }
void OnuLink::setSlotId(const std::string& value) { data_.setValue("slot_id", value, false); }
std::string OnuLink::getSlotId() const { return data_.getValue("slot_id"); }
void OnuLink::setHasDestination(bool value) { data_.setValue("has_destination", flag(value), false); }
bool OnuLink::hasDestination() const { return data_.getValue("has_destination") == "1"; }

bool OnuLink::setJsonData(const std::string& text) { return data_.setJsonData(text, false); }
std::string OnuLink::getJsonData() const { return data_.getJsonData(false, nullptr, 0); }
bool OnuLink::getHasModified() const { return data_.getHasModified(); }
void OnuLink::clearHasModified() { data_.clearHasModified(); }
