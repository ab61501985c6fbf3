// Identification of the OLT, the NVS check, the provisioning sequence, the domain check that
// keeps it provisioned, the ONU list as the OLT knows it, and the slot's initial state.
#include <cstdio>

#include "Exception.h"
#include "OnuLink.h"
#include "PONCardHelper.h"

bool PONCardHelper::doRequestOltEponMac() {
    return runOperation(__func__, [&] {
        clear();
        request_.addGetOLTInformation();
        sendRequestMessage();
        card_.clearMacAddress();
        Container* info = response_.getContainer(0);
        // Only the chip this system knows how to provision gets a MAC: any other card stays in
        // identification and is never sent anything else.
        if (info != nullptr && info->getValue("product_code") == kProductCode) {
            card_.setMacAddress(info->getValue("olt_epon_mac"));
            card_.setAppVersion(info->getValue("firmware_version"));
        }
        card_.setStatusReported(false);
        card_.setOnlineStatus(true);
        return true;
    });
}

bool PONCardHelper::doRequestNVSEnabled() {
    isGetNVSEnabled_ = false;
    return runOperation(__func__, [&] {
        clear();
        request_.addGetOLTNVSEnabled();
        sendRequestMessage();
        card_.setNVSEnabled(firstAnswer("doRequestNVSEnabled").getValue("current") == "1");
        isGetNVSEnabled_ = true;
        return true;
    });
}

bool PONCardHelper::doSetNVSDisabled() {
    return sendOne(__func__, [&] { request_.addSetOLTNVSEnabled(false); });
}

bool PONCardHelper::doRequestCtcMode() {
    return runOperation(__func__, [&] {
        clear();
        request_.addGetOAMExtensionSetSupport(oltMac());
        sendRequestMessage();
        isOnCtcMode_ = false;
        Container& answer = firstAnswer("doRequestCtcMode");
        if (answer.hasList("oam_sets")) {
            for (Container* set : answer.getList("oam_sets")) {
                if (set->getValue("oui") == kCtcOui) {
                    isOnCtcMode_ = set->getValue("state") == "1";
                    break;
                }
            }
        }
        return true;
    });
}

bool PONCardHelper::doProvisionOLT() {
    bool ok = true;
    ok &= doDisableOLT();
    ok &= doSetEnCtcMode();
    for (uint16_t port : {0, 1}) {
        ok &= doSetDBAAggregateBandwidth(port);
        ok &= doSetAggregateBandwidth(port);
    }
    for (uint16_t port : {0, 1}) ok &= doSetEncryptionModeDefault(port);
    for (uint16_t port : {0, 1}) ok &= doClearAllAllowedLinks(port);
    for (uint16_t port : {0, 1}) ok &= doSetDBAPollingIntervalHighResolution(port);
    ok &= doSetDefaultOAMRate();
    ok &= doSetOLTBridgingConfiguration();
    for (uint16_t port : {0, 1}) ok &= doSetEPONLoopTiming(port);
    for (uint16_t port : {0, 1}) ok &= doSetEPONSyncTime(port);
    ok &= doSetAllPaths();
    if (enabledOnu2Onu_) {
        ok &= doSetDomainVersion2(kOnu2OnuDomain);
        ok &= doSetDomainRules(kOnu2OnuDomain, 0, 0);
        ok &= doSetDomainRules(kOnu2OnuDomain, 0, 1);
        ok &= doSetDomainSelectors(kOnu2OnuDomain);
    }
    hasOnu2OnuDomain_ = enabledOnu2Onu_;
    ok &= doSetOLTIPMulticastGlobalProvisioning();
    ok &= doSetDomainVersion2(kBridgeDomain);
    ok &= doSetDomainRules(kBridgeDomain, 0, 0);
    ok &= doSetDomainRules(kBridgeDomain, 1, 0);
    ok &= doSetDomainRules(kBridgeDomain, 0, 1);
    ok &= doSetDomainRules(kBridgeDomain, 1, 1);
    ok &= doSetOLTIPMulticastDomainProxyProvisioning();
    ok &= doSetOLTIPMulticastHostCopy();
    hasBridgeDomain_ = true;
    clearAllOLTAlarm();
    ok &= doGetAllOnuKnown(true);
    ok &= clearAllLogicalLink();
    ok &= doEnableOLT();
    if (!ok) {
        // CTC mode went on at step 2, so the slot would take this OLT as provisioned for good
        // although a path, a rule or a multicast setting is missing. A reset brings it back
        // without CTC mode, and the next passes provision it again from a clean state.
        std::printf("Provisioning of slot %s incomplete: resetting the OLT\n", slot_.c_str());
        resetPending_ = !doResetOLT();
    }
    return ok;
}

void PONCardHelper::retryPendingReset() {
    std::printf("Provisioning of slot %s incomplete: resetting the OLT again\n", slot_.c_str());
    resetPending_ = !doResetOLT();
}

bool PONCardHelper::doSetEnCtcMode() {
    return sendOne(__func__, [&] { request_.addSetOamExtensionSetSupport(oltMac()); });
}

bool PONCardHelper::doSetDBAAggregateBandwidth(uint16_t port) {
    return sendOne(__func__, [&] { request_.addSetDBAAggregateBandwidth(oltMac(), port); });
}

bool PONCardHelper::doSetAggregateBandwidth(uint16_t port) {
    return sendOne(__func__, [&] { request_.addSetAggregateBandwidth(oltMac(), port); });
}

bool PONCardHelper::doSetEncryptionModeDefault(uint16_t port) {
    return sendOne(__func__, [&] { request_.addSetEncryptionModeDefault(oltMac(), port); });
}

bool PONCardHelper::doClearAllAllowedLinks(uint16_t port) {
    return sendOne(__func__, [&] { request_.addClearAllAllowedLinks(oltMac(), port); });
}

bool PONCardHelper::doSetDBAPollingIntervalHighResolution(uint16_t port) {
    return sendOne(__func__, [&] { request_.addSetDBAPollingIntervalHighResolution(oltMac(), port); });
}

bool PONCardHelper::doSetDefaultOAMRate() {
    return sendOne(__func__, [&] { request_.addSetDefaultOAMRate(); });
}

bool PONCardHelper::doSetOLTBridgingConfiguration() {
    return sendOne(__func__, [&] { request_.addSetOLTBridgingConfiguration(false); });
}

bool PONCardHelper::doSetEPONLoopTiming(uint16_t port) {
    return sendOne(__func__, [&] { request_.addSetEPONLoopTiming(oltMac(), port); });
}

bool PONCardHelper::doSetEPONSyncTime(uint16_t port) {
    return sendOne(__func__, [&] { request_.addSetEPONSyncTime(oltMac(), port); });
}

bool PONCardHelper::doSetPath(uint16_t path, uint16_t first, uint16_t second, uint16_t width) {
    return sendOne(__func__, [&] { request_.addSetPath(path, first, second, width); });
}

bool PONCardHelper::doSetAllPaths() {
    struct Path {
        uint16_t path, first, second;
    };
    static constexpr Path kPaths[] = {{8192, 1, 2}, {8194, 1, 3}, {8196, 0, 3}, {8198, 0, 2},
                                      {8200, 0, 0}, {8202, 0, 2}, {8204, 1, 1}, {8206, 1, 3}};
    bool ok = true;
    // A failed path does not stop the others.
    for (const Path& p : kPaths) ok &= doSetPath(p.path, p.first, p.second, 32);
    return ok;
}

bool PONCardHelper::doSetDomainVersion2(uint16_t domain) {
    return sendOne(__func__, [&] { request_.addSetDomainVersion2(domain); });
}

bool PONCardHelper::doSetDomainRules(uint16_t domain, uint16_t first, uint16_t second) {
    return sendOne(__func__, [&] { request_.addSetDomainRules(domain, first, second); });
}

bool PONCardHelper::doSetDomainSelectors(uint16_t domain) {
    return sendOne(__func__, [&] { request_.addSetDomainSelectors(domain); });
}

bool PONCardHelper::doSetOLTIPMulticastGlobalProvisioning() {
    return sendOne(__func__, [&] { request_.addSetOLTIPMulticastGlobalProvisioning(); });
}

bool PONCardHelper::doSetOLTIPMulticastDomainProxyProvisioning() {
    return sendOne(__func__, [&] { request_.addSetOLTIPMulticastDomainProxyProvisioning(); });
}

bool PONCardHelper::doSetOLTIPMulticastHostCopy() {
    return sendOne(__func__, [&] { request_.addSetOLTIPMulticastHostCopy(); });
}

bool PONCardHelper::requestHasDomain() {
    return runOperation(__func__, [&] {
        clear();
        request_.doAddGetAllDomains();
        sendRequestMessage();
        // Every part of the reply: a long domain list comes in several.
        for (size_t i = 0; i < response_.getContainerSize(); ++i) {
            Container* answer = response_.getContainer(i);
            if (!answer->hasList("domain_lst")) continue;
            for (Container* domain : answer->getList("domain_lst")) {
                const std::string id = domain->getValue("id");
                if (id == std::to_string(kOnu2OnuDomain)) hasOnu2OnuDomain_ = true;
                if (id == std::to_string(kBridgeDomain)) hasBridgeDomain_ = true;
            }
        }
        return true;
    });
}

bool PONCardHelper::clearAllProvisioningForLogicalLink(const std::string& mac) {
    return sendOne(__func__, [&] { request_.addClearAllProvisioningForLogicalLink(mac); });
}

bool PONCardHelper::clearAllLogicalLink() {
    for (size_t i = 0; i < onuList_.size(); ++i) {
        if (!clearAllProvisioningForLogicalLink(onuList_.getOnuLinkFromIndex(i)->getMacAddress())) return false;
    }
    onuList_.clear();
    return true;
}

bool PONCardHelper::doEnableOLT() {
    return sendOne(__func__, [&] { request_.addEnableOLT(); });
}

bool PONCardHelper::doDisableOLT() {
    return sendOne(__func__, [&] { request_.addDisableOLT(); });
}

bool PONCardHelper::doResetOLT() {
    return commandOne(__func__, [&] { request_.addResetOLT(); });
}

bool PONCardHelper::doRestoreDefault() {
    return commandOne(__func__, [&] { request_.addRestoreOLTDefaults(); });
}

bool PONCardHelper::doGetAllOnuKnown(bool clearFirst) {
    return runOperation(__func__, [&] {
        clear();
        isGetAllOnuKnown_ = false;
        request_.addGetListOfAllKnownLogicalLinks();
        request_.addGetListOfDiscoveredLinks();
        sendRequestMessage();
        if (clearFirst) onuList_.clear();
        // The known list comes first (one record per part), then the discovered list. Each
        // record is taken by the list it carries: an empty list decodes into a record without
        // one, and walking by position would then skip every discovered link behind it.
        for (const char* key : {"allkn_link_macs", "disc_link_macs"}) {
            const bool online = key[0] == 'd';
            for (size_t i = 0; i < response_.getContainerSize(); ++i) {
                Container* answer = response_.getContainer(i);
                if (!answer->hasList(key)) continue;
                for (Container* entry : answer->getList(key)) {
                    const std::string mac = entry->getValue("mac_address");
                    onuList_.addOnuLink(mac);
                    OnuLink* link = onuList_.getOnuLinkFromMAC(mac);
                    if (link == nullptr) {
                        std::printf("%s - ONU not found: %s\n", "doGetAllOnuKnown", mac.c_str());
                        continue;
                    }
                    link->setOnlineStatus(online);
                    link->setSlotId(slot_);
                }
            }
        }
        isGetAllOnuKnown_ = true;
        return true;
    });
}

void PONCardHelper::setInitialState() {
    abandoned_.store(false);
    resetPending_ = false;
    clear();
    isOnCtcMode_ = false;
    isGetAllOnuKnown_ = false;
    isGetNVSEnabled_ = false;
    hasBridgeDomain_ = false;
    hasOnu2OnuDomain_ = false;
    card_.clearMacAddress();
    alarmBuffer_.clear();
    // Halvorn is told below that every ONU of the slot is offline; the links kept in the
    // list must then be reported again once the OLT answers, or Halvorn would show them
    // offline for as long as nothing else about them changes.
    for (size_t i = 0; i < onuList_.size(); ++i) onuList_.getOnuLinkFromIndex(i)->setStatusReported(false);
    doReportAllOnuOffline();
}

void PONCardHelper::doRecheckConfiguration() {
    isOnCtcMode_ = false;
    isGetAllOnuKnown_ = false;
    hasBridgeDomain_ = false;
    hasOnu2OnuDomain_ = false;
}

void PONCardHelper::clearAllOLTAlarm() { alarmBuffer_.clear(); }
