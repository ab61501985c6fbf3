// The ONU links behind the OLT: their PON ports and queues, the configuration of each newly
// seen link, its teardown, the reports to Halvorn, and the tasks the operator sends.
#include <cstdio>
#include <set>
#include <string>

#include "Exception.h"
#include "Helper.h"
#include "OnuLink.h"
#include "PONCardHelper.h"

namespace {

// A queue or path kept as hexadecimal text, as a number.
uint16_t hexNumber(const std::string& text) { return static_cast<uint16_t>(std::stoul(text, nullptr, 16)); }

// Plain decimal digits only, at most max. No sign, blank or trailing text, and never more
// digits than fit: a text like "65537" must not wrap into a small valid number.
bool readDecimal(const std::string& text, unsigned long max, unsigned long& value) {
    if (text.empty() || text.size() > 9) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return value <= max;
}

// Paths that ONU-to-ONU set up for a link's queues lie in this range; the provisioning's own
// paths (8192 and up) never do.
constexpr int kFirstLinkPath = 512;
constexpr int kLastLinkPath = 8191;
// A path still used by more than this many domain groups or destinations is in use.
constexpr int kUnusedPathUsage = 2;

}  // namespace

bool PONCardHelper::doGetAllOnuInformation() {
    for (size_t i = 0; i < onuList_.size(); ++i) {
        OnuLink* link = onuList_.getOnuLinkFromIndex(i);
        if (!link->getOnlineStatus() || link->getPonPort() != "-") continue;
        // A failure stops the walk for this pass.
        if (!doGetOnuInformation(link)) return false;
    }
    return true;
}

bool PONCardHelper::doGetOnuInformation(OnuLink* link) {
    return runOperation(__func__, [&] {
        clear();
        request_.addGetONUInformation(link->getMacAddress());
        sendRequestMessage();
        Container& answer = firstAnswer("doGetOnuInformation");
        if (answer.getValue("result") == "0") link->setPonPort(answer.getValue("info_upstream_epon_port"));
        return true;
    });
}

bool PONCardHelper::doGetAllOnuQueue() {
    return runOperation(__func__, [&] {
        clear();
        for (size_t i = 0; i < onuList_.size(); ++i) {
            OnuLink* link = onuList_.getOnuLinkFromIndex(i);
            if (!link->getIsGigabit()) request_.addGetOLTBridgingMode(link->getMacAddress());
        }
        if (request_.getAll().empty()) return true;
        sendRequestMessage();
        for (size_t i = 0; i < response_.getContainerSize(); ++i) {
            Container* answer = response_.getContainer(i);
            const std::string mac = answer->getValue("link");
            OnuLink* link = onuList_.getOnuLinkFromMAC(mac);
            if (link == nullptr) {
                std::printf("%s - ONU not found: %s\n", "doGetAllOnuQueue", mac.c_str());
                continue;
            }
            link->setDownstreamQueue(answer->getValue("down_path_endpoint"));
            link->setUpstreamQueue(answer->getValue("up_path_endpoint"));
            link->setMultiCastQueue(answer->getValue("mcast_path_endpoint"));
        }
        return true;
    });
}

void PONCardHelper::handleOntStates() {
    try {
        for (size_t i = 0; i < onuList_.size();) {
            OnuLink* link = onuList_.getOnuLinkFromIndex(i);
            // A link whose queues the OLT has not reported yet (the queue query of this pass
            // failed) is configured at a later pass: its queues and destination id would be
            // placeholders, and its destination would be marked done without existing.
            const bool queuesKnown = !link->getDownstreamQueue().empty();
            // Its ONU-to-ONU paths start on its PON port: a link whose port is not known yet
            // waits for it rather than being marked done without them.
            const bool portKnown = !enabledOnu2Onu_ || link->getPonPort() != "-";
            if (link->getOnlineStatus() && queuesKnown && portKnown) {
                if (enabledOnu2Onu_ && !link->hasDestination()) {
                    doCreateOnu2OnuPath(link);
                    doSetDestination(link);
                    doSetDestinationLearningControl(link);
                    doAddDestinationRules(link);
                    doSetOnuGigabit(link, link->getDownstreamP2PQueue(), link->getUpstreamP2PQueue());
                    link->setHasDestination(true);
                }
                if (!link->getIsGigabit()) {
                    if (!link->hasDestination())
                        doSetOnuGigabit(link, link->getDownstreamQueue(), link->getUpstreamQueue());
                    doSetMulticastOnuGigabit(link);
                }
            }
            if (link->getOnlineStatus() && !link->getEthernetUpStatus()) doSetEthernetToUpStatus(link);
            if (!link->getStatusReported()) doReportOnu(link);
            if (!link->getOnlineStatus()) {
                clearAllOntQueue(link);
                // The next link takes this index.
                onuList_.removeOnuFromIndex(i);
                continue;
            }
            ++i;
        }
    } catch (const Exception& e) {
        std::printf("handleOntStates[%s]: %s\n", slot_.c_str(), e.getMessage().c_str());
    } catch (...) {
        std::printf("Unknown Error at %s\n", __func__);
    }
}

bool PONCardHelper::clearAllUnusedPaths() {
    std::set<int> unused;
    const bool read = runOperation(__func__, [&] {
        clear();
        request_.addGetAllPath();
        sendRequestMessage();
        for (size_t i = 0; i < response_.getContainerSize(); ++i) {
            Container* answer = response_.getContainer(i);
            if (!answer->hasList("paths")) continue;
            for (Container* path : answer->getList("paths")) {
                const int id = std::stoi(path->getValue("id"));
                const int usage = std::stoi(path->getValue("usage_count"));
                if (id >= kFirstLinkPath && id <= kLastLinkPath && usage <= kUnusedPathUsage) unused.insert(id);
            }
        }
        return true;
    });
    if (!read) return false;
    bool ok = true;
    // A path number is the queue it serves: its SLA is deleted under the same number, written
    // as the four hex digits every queue travels as.
    for (int id : unused) ok &= doDeleteSLA(Helper::toStringHex(static_cast<uint32_t>(id), 4));
    return ok;
}

bool PONCardHelper::removeMacFromOnuList(const std::string& mac) { return onuList_.removeOnuFromMacAddress(mac); }

bool PONCardHelper::doSetOnuGigabit(OnuLink* link, const std::string& firstQueue, const std::string& secondQueue) {
    return runOperation(__func__, [&] {
        clear();
        request_.addSetLinkSLA(link->getMacAddress());
        request_.addSetQueueSLA(firstQueue);
        request_.addSetQueueSLA(secondQueue);
        sendRequestMessage();
        link->setIsGigabit(true);
        link->setStatusReported(false);
        return true;
    });
}

bool PONCardHelper::doSetMulticastOnuGigabit(OnuLink* link) {
    return sendOne(__func__, [&] { request_.addSetQueueSLA(link->getMultiCastQueue()); });
}

bool PONCardHelper::doSetEthernetToUpStatus(OnuLink* link) {
    const bool ok = sendOne(__func__, [&] { request_.addCTCSetEthernetPort(link->getMacAddress()); });
    // Tried once per appearance of the link, whatever the answer.
    link->setEthernetUpStatus(true);
    link->setStatusReported(false);
    return ok;
}

bool PONCardHelper::doCreateOnu2OnuPath(OnuLink* link) {
    return runOperation(__func__, [&] {
        const uint16_t port = static_cast<uint16_t>(std::stoi(link->getPonPort()));
        const bool down =
            doSetPath(hexNumber(link->getDownstreamP2PQueue()), port, static_cast<uint16_t>(port + 2), 32);
        const bool broadcast = doSetPath(hexNumber(link->getBroadcastP2PQueue()), port, port, 32);
        return down && broadcast;
    });
}

bool PONCardHelper::doSetDestination(OnuLink* link) {
    return sendOne(__func__, [&] { request_.addSetDestination(*link); });
}

bool PONCardHelper::doSetDestinationLearningControl(OnuLink* link) {
    return sendOne(__func__,
                   [&] { request_.addSetDestinationLearningControl(static_cast<uint16_t>(link->getDestinationId())); });
}

bool PONCardHelper::doAddDestinationRules(OnuLink* link) {
    return sendOne(__func__, [&] { request_.addDestinationRules(static_cast<uint16_t>(link->getDestinationId())); });
}

bool PONCardHelper::clearAllOntQueue(OnuLink* link) {
    bool ok = clearAllProvisioningForLogicalLink(link->getMacAddress());
    if (link->hasDestination()) {
        ok &= doDeleteSLA(link->getDownstreamP2PQueue());
        ok &= doDeleteSLA(link->getUpstreamP2PQueue());
        ok &= doDeleteSLA(link->getBroadcastP2PQueue());
    }
    ok &= doDeleteSLA(link->getDownstreamQueue());
    ok &= doDeleteSLA(link->getUpstreamQueue());
    ok &= clearOnuDestination(link);
    return ok;
}

bool PONCardHelper::clearOnuDestination(OnuLink* link) {
    if (!link->hasDestination()) return true;
    return runOperation(__func__, [&] {
        const uint16_t id = static_cast<uint16_t>(link->getDestinationId());
        bool ok = deleteDestinationLearningControl(id);
        ok &= deleteDestinationRules(id);
        ok &= deleteDestinations(id);
        ok &= doDeletePath(hexNumber(link->getDownstreamP2PQueue()));
        ok &= doDeletePath(hexNumber(link->getBroadcastP2PQueue()));
        link->setHasDestination(false);
        return ok;
    });
}

bool PONCardHelper::deleteDestinations(uint16_t destinationId) {
    return sendOne(__func__, [&] { request_.addDeleteDestination(destinationId); });
}

bool PONCardHelper::deleteDestinationRules(uint16_t destinationId) {
    return runOperation(__func__, [&] {
        clear();
        request_.addGetDestinationRules(destinationId);
        sendRequestMessage();
        Container* answer = response_.getContainer(0);
        if (answer == nullptr) throw Exception("Container Destination Rules null", "deleteDestinationRules", __LINE__);
        // The OLT's own bytes go back unchanged: a delete must name the rules exactly.
        const std::string rules = answer->getValue("payload");
        clear();
        request_.addDeleteDestinationRules(rules);
        sendRequestMessage();
        return true;
    });
}

bool PONCardHelper::deleteDestinationLearningControl(uint16_t destinationId) {
    return sendOne(__func__, [&] { request_.addDeleteDestinationLearningControl(destinationId); });
}

bool PONCardHelper::doDeletePath(uint16_t path) {
    if (path == 0) return true;
    return sendOne(__func__, [&] { request_.addDeletePath(path); });
}

bool PONCardHelper::doDeleteSLA(const std::string& queue) {
    // A queue that was never learnt.
    if (queue.empty() || queue == "0") return true;
    return sendOne(__func__, [&] { request_.addDeleteQueueSLA(queue); });
}

bool PONCardHelper::doResetOnu(const std::string& mac) {
    return commandOne(__func__, [&] { request_.addResetONU(Helper::replaceAll(mac, ":", "")); });
}

bool PONCardHelper::doEnableOnu(const std::string& mac) {
    return sendOne(__func__, [&] { request_.addEnableLink(Helper::replaceAll(mac, ":", ""), true); });
}

bool PONCardHelper::doDisableOnu(const std::string& mac) {
    return commandOne(__func__, [&] { request_.addDisableLink(Helper::replaceAll(mac, ":", "")); });
}

bool PONCardHelper::doSetOnuVlan(const std::string& vlanId, const std::string& mac) {
    return sendOne(__func__, [&] { request_.addOnuPortVlan(Helper::replaceAll(mac, ":", ""), vlanId); });
}

bool PONCardHelper::doSetOltVlan(const std::string& ponNumber, const std::string& vlanId,
                                 const std::string& discardUntagged) {
    return runOperation(__func__, [&] {
        // Both texts are checked before any rule is deleted, and reported as they were given.
        unsigned long port = 0;
        if (!readDecimal(ponNumber, 1, port))
            throw Exception("Impossible to add VLAN to PON Number(" + ponNumber + ")", "doSetOltVlan", __LINE__);
        unsigned long vlan = 0;
        if (!vlanId.empty() && (!readDecimal(vlanId, 4095, vlan) || vlan == 0))
            throw Exception("Impossible to set VLAN ID equals to (" + vlanId + ")", "doSetOltVlan", __LINE__);
        doClearAllRules(static_cast<uint16_t>(port));
        // No VLAN: the port is left without VLAN rules.
        if (vlanId.empty()) return true;
        clear();
        request_.addOltVlanRules(oltMac(), static_cast<uint16_t>(port), static_cast<uint16_t>(vlan),
                                 discardUntagged == "1");
        sendRequestMessage();
        return true;
    });
}

bool PONCardHelper::doClearAllRules(uint16_t port) {
    std::vector<TkmRule> rules;
    if (!doGetAllTkmRules(rules, port)) return false;
    bool ok = true;
    // Each rule alone: a rule the OLT refuses to delete does not keep the others.
    for (const TkmRule& rule : rules) ok &= doDeleteTkmpRule(rule);
    return ok;
}

bool PONCardHelper::doGetAllTkmRules(std::vector<TkmRule>& rules, uint16_t port) {
    return runOperation(__func__, [&] {
        clear();
        // The PON port's own rules and those of the NNI port of the same number.
        request_.addGetOltRule(oltMac(), port);
        request_.addGetOltRule(oltMac(), static_cast<uint16_t>(port + 2));
        sendRequestMessage();
        for (size_t i = 0; i < response_.getContainerSize(); ++i) {
            Container* answer = response_.getContainer(i);
            if (!answer->hasList("rules")) continue;
            const std::string target = answer->getValue("target");
            const uint8_t flags = static_cast<uint8_t>(std::stoul(answer->getValue("flags")));
            for (Container* rule : answer->getList("rules"))
                rules.push_back(TkmRule{target, flags, rule->getValue("rule")});
        }
        return true;
    });
}

bool PONCardHelper::doDeleteTkmpRule(const TkmRule& rule) {
    return sendOne(__func__, [&] { request_.addDeleteOltPortLinkRule(rule.target, rule.flags, rule.rule); });
}
