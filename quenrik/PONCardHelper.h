#pragma once
// Everything one slot knows about its OLT, and every conversation with it in the TK protocol:
// identification, the NVS check, provisioning and its recheck (PONCardHelperProvisioning.cpp),
// the ONU links and the operator's tasks (PONCardHelperOnu.cpp), the OLT's own reports and
// the optics (PONCardHelperAlarms.cpp), the reports to Halvorn (PONCardHelper.cpp).
//
// Not thread-safe: every operation runs under its slot's lock (PONCardTask), one at a time.
// The exceptions are setOLTOnlineStatus, which the ping loop calls without the lock and which
// touches only the PONCard record (it guards its own values), and the flags read by
// accessors, which only the slot's threads use under the same lock.
//
// Every operation that talks to the OLT catches its own failures: an Exception prints its
// full text and a newline on standard output, any other failure "Unknown Error at <name>";
// it then returns false where it has a result. Nothing is retried inside an operation: the
// main loop's next pass is the retry.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Container.h"
#include "OnuLinkList.h"
#include "PONCard.h"
#include "Periods.h"
#include "RequestMessage.h"
#include "ResponseMessage.h"
#include "UDPSocket.h"

class IPCWorker;
class OnuLink;
class SocketHelper;

class PONCardHelper {
public:
    // The product code of the OLT chip this system provisions.
    static constexpr const char* kProductCode = "3723";
    // OUI of the CTC OAM extension set, whose state is the OLT's CTC mode.
    static constexpr const char* kCtcOui = "111111";
    // The ONU-to-ONU and the bridge domain.
    static constexpr uint16_t kOnu2OnuDomain = RequestMessage::kOnu2OnuDomain;
    static constexpr uint16_t kBridgeDomain = RequestMessage::kBridgeDomain;

    PONCardHelper();
    virtual ~PONCardHelper();
    PONCardHelper(const PONCardHelper&) = delete;
    PONCardHelper& operator=(const PONCardHelper&) = delete;

    // ---- set-up ----
    // Starts the slot's UDPSocket on the interface's process-wide SocketHelper and keeps the
    // slot number in the PONCard.
    void start(const std::string& interface, const std::string& slot);
    // The same on a given SocketHelper (tests own theirs).
    void start(SocketHelper& helper, const std::string& slot);
    // Where notifications go; IPCWorker::getInstance() unless a test gives its own.
    void setNotifier(IPCWorker* notifier) { notifier_ = notifier; }
    // Transport time-out per try and the pause after tolerated result codes.
    void setPeriods(const Periods& periods);
    // The OLT's address for the UDPSocket. Text that is not IPv4 throws and changes nothing.
    void setOltIpAddress(const std::string& ip);
    // Empties the request and the response buffers.
    void clear();
    // Called by the ping loop once the OLT has failed three pings, before it waits for the
    // slot lock: every exchange not yet sent fails at once (quietly) until setInitialState,
    // so a pass or task under way gives the lock back after at most the exchange in flight
    // instead of waiting out every remaining request of it. Thread-safe.
    void abandonExchanges() { abandoned_.store(true); }
    // Sends the request buffer and parses every reply into the response buffer; throws.
    void sendRequestMessage();

    // ---- flags of the slot's provisioning state ----
    bool getIsOnCtcMode() const { return isOnCtcMode_; }
    bool getIsGetAllOnuKnown() const { return isGetAllOnuKnown_; }
    bool getIsGetNVSEnabled() const { return isGetNVSEnabled_; }
    bool getHasBridgeDomain() const { return hasBridgeDomain_; }
    void setHasBridgeDomain(bool value) { hasBridgeDomain_ = value; }
    // The reset after an incomplete provisioning was refused or went unanswered: the card
    // still reports CTC mode on, and only a reset makes it provisioned again.
    bool getResetPending() const { return resetPending_; }
    // Asks for that reset again; the mark stays until the OLT accepts it.
    void retryPendingReset();
    bool getHasOnu2OnuDomain() const { return hasOnu2OnuDomain_; }
    void setHasOnu2OnuDomain(bool value) { hasOnu2OnuDomain_ = value; }
    bool getEnabledOnu2Onu() const { return enabledOnu2Onu_; }
    void setEnabledOnu2Onu(bool value) { enabledOnu2Onu_ = value; }
    bool hasRequestConfig() const { return hasRequestConfig_; }
    void setHasRequestConfig(bool value) { hasRequestConfig_ = value; }
    bool hasOltMacAddress() const;
    bool getNVSEnabled() const { return card_.getNVSEnabled(); }

    // ---- identification, NVS, provisioning (PONCardHelperProvisioning.cpp) ----
    bool doRequestOltEponMac();
    bool doRequestNVSEnabled();
    bool doSetNVSDisabled();
    bool doRequestCtcMode();
    // The whole provisioning sequence in its fixed order, every step run whatever the one
    // before did. True when every step succeeded; otherwise the OLT is reset at the end, so
    // that it comes back without CTC mode and is provisioned again from a clean state.
    bool doProvisionOLT();
    bool doSetEnCtcMode();
    bool doSetDBAAggregateBandwidth(uint16_t port);
    bool doSetAggregateBandwidth(uint16_t port);
    bool doSetEncryptionModeDefault(uint16_t port);
    bool doClearAllAllowedLinks(uint16_t port);
    bool doSetDBAPollingIntervalHighResolution(uint16_t port);
    bool doSetDefaultOAMRate();
    bool doSetOLTBridgingConfiguration();
    bool doSetEPONLoopTiming(uint16_t port);
    bool doSetEPONSyncTime(uint16_t port);
    bool doSetPath(uint16_t path, uint16_t first, uint16_t second, uint16_t width);
    bool doSetAllPaths();
    bool doSetDomainVersion2(uint16_t domain);
    bool doSetDomainRules(uint16_t domain, uint16_t first, uint16_t second);
    bool doSetDomainSelectors(uint16_t domain);
    bool doSetOLTIPMulticastGlobalProvisioning();
    bool doSetOLTIPMulticastDomainProxyProvisioning();
    bool doSetOLTIPMulticastHostCopy();
    // Reads which of the two domains exist (only ever sets the flags).
    bool requestHasDomain();
    bool clearAllProvisioningForLogicalLink(const std::string& mac);
    // clearAllProvisioningForLogicalLink for every listed link, then empties the list; a
    // failure stops the walk and keeps the list.
    bool clearAllLogicalLink();
    bool doEnableOLT();
    bool doDisableOLT();
    bool doResetOLT();
    bool doRestoreDefault();
    // Rebuilds the ONU list from the OLT's known (offline) and discovered (online) links.
    bool doGetAllOnuKnown(bool clearFirst);
    void doReportAllOnuOffline();
    void doReportOLTModule();
    void doRequestConfig();
    // Back to identification: flags, OLT MAC and alarm buffer cleared, Halvorn told that
    // the slot's ONUs are offline. Configuration, addresses, ONU-to-ONU switch and ONU list
    // stay; the links lose their reported mark, so each is reported again once the OLT
    // answers (Halvorn has just been told they are all offline).
    void setInitialState();
    void doRecheckConfiguration();
    void clearAllOLTAlarm();
    void setOLTOnlineStatus(bool online);

    // ---- ONU links and tasks (PONCardHelperOnu.cpp) ----
    bool doGetAllOnuInformation();
    bool doGetOnuInformation(OnuLink* link);
    bool doGetAllOnuQueue();
    void handleOntStates();
    bool clearAllUnusedPaths();
    bool removeMacFromOnuList(const std::string& mac);
    bool doSetOnuGigabit(OnuLink* link, const std::string& firstQueue, const std::string& secondQueue);
    bool doSetMulticastOnuGigabit(OnuLink* link);
    bool doSetEthernetToUpStatus(OnuLink* link);
    bool doCreateOnu2OnuPath(OnuLink* link);
    bool doSetDestination(OnuLink* link);
    bool doSetDestinationLearningControl(OnuLink* link);
    bool doAddDestinationRules(OnuLink* link);
    bool clearAllOntQueue(OnuLink* link);
    bool clearOnuDestination(OnuLink* link);
    bool deleteDestinations(uint16_t destinationId);
    bool deleteDestinationRules(uint16_t destinationId);
    bool deleteDestinationLearningControl(uint16_t destinationId);
    bool doDeletePath(uint16_t path);
    bool doDeleteSLA(const std::string& queue);
    void doReportOnu(OnuLink* link);
    bool doResetOnu(const std::string& mac);
    bool doEnableOnu(const std::string& mac);
    bool doDisableOnu(const std::string& mac);
    bool doSetOnuVlan(const std::string& vlanId, const std::string& mac);
    // Replaces the VLAN rules of one PON port. The PON number and the VLAN id are checked
    // before any rule is deleted: PON "0" or "1"; VLAN empty (rules deleted, none added) or
    // 1..4095, both as plain decimal digits, so no text can wrap into a valid port or VLAN.
    bool doSetOltVlan(const std::string& ponNumber, const std::string& vlanId, const std::string& discardUntagged);
    // One rule of a port as the OLT listed it, ready to be sent back in a delete.
    struct TkmRule {
        std::string target;  // 9 bytes as hex
        uint8_t flags = 0;
        std::string rule;  // as hex, whatever its length
    };
    bool doClearAllRules(uint16_t port);
    bool doGetAllTkmRules(std::vector<TkmRule>& rules, uint16_t port);
    bool doDeleteTkmpRule(const TkmRule& rule);

    // ---- the OLT's own reports, alarm rows, optics (PONCardHelperAlarms.cpp) ----
    // Handles every unsolicited message the OLT sent since the last call, each on its own:
    // one that cannot be read is printed and skipped. False only after an OLT Ready (the
    // slot is back at identification and the messages after it are dropped).
    bool handleAlarms();
    void addReportAlarm(const Container& message);
    void addLinkReportAlarm(const std::string& mac);
    void addGeneralOnuReportAlarm(int messageId, const std::string& mac);
    void addCustomReportAlarm(int entityTag, const std::string& port, const std::string& mac, const std::string& alarm,
                              const std::string& state);
    void doReportAlarmToHalvorn();
    void clearAllAlarm();
    bool doGetAllOnuOpticsPower();
    bool doGetOnuOpticsPower(OnuLink* link);
    bool doGetAllOltOpticsPower();
    bool doGetOltOpticsPower(uint16_t port);

    // ---- access for the slot worker and tests ----
    PONCard& getPONCard() { return card_; }
    OnuLinkList& getOnuLinkList() { return onuList_; }
    UDPSocket& getUDPSocket() { return socket_; }
    const std::string& getSlot() const { return slot_; }
    size_t getPendingAlarmRowsForTest() const { return alarmReport_.getListSize(kAlarmList); }

private:
    static constexpr const char* kAlarmList = "alarm_list";

    // Queues {"action":"set","uri":uri,"data":data} for Halvorn.
    void notify(const std::string& uri, const std::string& data);
    // The first reply's record of the last exchange; throws "Container can't be null".
    Container& firstAnswer(const char* operation);
    // Sends the request buffer for a command whose reply carries nothing to decode (reset,
    // restore defaults, reset ONU, disable link): the reply's result code alone decides.
    void sendCommand();
    // Runs body as one OLT operation: its failures are printed as described above.
    bool runOperation(const char* name, const std::function<bool()>& body);
    // Clears the buffers, lets add fill the request buffer, sends and parses: one operation.
    bool sendOne(const char* name, const std::function<void()>& add);
    // The same for a command whose reply has nothing to decode (sendCommand).
    bool commandOne(const char* name, const std::function<void()>& add);
    // The OLT MAC as the requests carry it.
    std::string oltMac() const { return card_.getMacAddress(); }

    // Set by abandonExchanges (ping loop, no slot lock), cleared by setInitialState.
    std::atomic<bool> abandoned_{false};
    void throwIfAbandoned() const;

    std::string slot_;
    IPCWorker* notifier_ = nullptr;  // not owned; IPCWorker::getInstance() when not set

    RequestMessage request_;
    ResponseMessage response_;
    // Unsolicited messages of the current handleAlarms call, one at a time.
    ResponseMessage alarmBuffer_;
    // Rows for the next "/olt/alarm/new", in list kAlarmList.
    Container alarmReport_;

    bool isOnCtcMode_ = false;
    bool isGetAllOnuKnown_ = false;
    bool isGetNVSEnabled_ = false;
    bool hasBridgeDomain_ = false;
    bool hasOnu2OnuDomain_ = false;
    bool resetPending_ = false;
    bool enabledOnu2Onu_ = false;
    bool hasRequestConfig_ = false;

    UDPSocket socket_;
    OnuLinkList onuList_;
    PONCard card_;
};
