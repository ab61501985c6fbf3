// Start, the main loop and the task loop of a slot.
#include "PONCardTask.h"

#include <cstdio>

#include "Exception.h"
#include "PMTask.h"
#include "SocketHelper.h"
#include "TextRules.h"
#include "Uris.h"

namespace {

// The main loop's two counters: the first optics reading comes as soon as the ONU list is
// complete, later ones every 32nd polling pass; every 15th polling pass rechecks the OLT.
constexpr int kOpticsStart = 31;
constexpr int kOpticsAbove = 30;
constexpr int kRecheckAbove = 13;

}  // namespace

PONCardTask::PONCardTask() = default;

PONCardTask::~PONCardTask() = default;

void PONCardTask::setPeriods(const Periods& periods) {
    periods_ = periods;
    helper_.setPeriods(periods);
}

void PONCardTask::start(const std::string& interface, const std::string& slot) {
    interface_ = interface;
    slot_ = slot;
    socketHelper_ = SocketHelper::getInstance(interface);
    socketHelper_->setReopenDelay(periods_.socketReopen);
    helper_.start(*socketHelper_, slot);
    mainThread_ = std::thread(&PONCardTask::mainLoop, this);
    taskThread_ = std::thread(&PONCardTask::taskLoop, this);
    pingThread_ = std::thread(&PONCardTask::pingLoop, this);
}

void PONCardTask::waitFinish() {
    if (mainThread_.joinable()) mainThread_.join();
    if (taskThread_.joinable()) taskThread_.join();
    if (pingThread_.joinable()) pingThread_.join();
}

void PONCardTask::addTask(PMTask* task) { tasks_.push(std::unique_ptr<PMTask>(task)); }

size_t PONCardTask::getTaskQueueSizeForTest() { return tasks_.size(); }

std::string PONCardTask::getOltIpAddress() const {
    std::lock_guard<std::mutex> lock(addressMutex_);
    return oltIpAddress_;
}

std::string PONCardTask::getSourceIpAddress() const {
    std::lock_guard<std::mutex> lock(addressMutex_);
    return sourceIpAddress_;
}

void PONCardTask::setOltIpAddress(const std::string& ip) {
    try {
        helper_.setOltIpAddress(ip);
        {
            std::lock_guard<std::mutex> lock(addressMutex_);
            oltIpAddress_ = ip;
        }
        helper_.setInitialState();
    } catch (const Exception& e) {
        std::printf("%s\n", e.getMessage().c_str());
    } catch (...) {
        std::printf("Unknown Error at %s\n", __func__);
    }
}

void PONCardTask::mainLoop() {
    int recheckCounter = 0;
    int opticsCounter = kOpticsStart;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(slotMutex_);
            runPassLocked(recheckCounter, opticsCounter);
        }
        std::this_thread::sleep_for(periods_.pass);
    }
}

void PONCardTask::runPassLocked(int& recheckCounter, int& opticsCounter) {
    helper_.doReportOLTModule();
    if (!helper_.hasRequestConfig()) {
        helper_.doRequestConfig();
        // Halvorn answers with an "/olt/config" task, which runs once this pass has ended.
        std::this_thread::sleep_for(periods_.configWait);
        return;
    }
    if (getOltIpAddress().empty() || socketHelper_ == nullptr || !socketHelper_->hasDone()) {
        std::this_thread::sleep_for(periods_.pass);
        return;
    }
    if (!helper_.hasOltMacAddress()) {
        helper_.doRequestOltEponMac();
        return;
    }
    if (!helper_.getIsGetNVSEnabled()) {
        helper_.doRequestNVSEnabled();
        // A card that boots its stored configuration would fight the provisioning: switch
        // that off and start it afresh.
        if (helper_.getNVSEnabled()) {
            helper_.doSetNVSDisabled();
            helper_.doResetOLT();
        }
        return;
    }
    if (helper_.getResetPending()) {
        helper_.retryPendingReset();
        return;
    }
    // CTC mode on is the mark that this OLT has been provisioned since its last reset.
    if (!helper_.getIsOnCtcMode() && helper_.doRequestCtcMode() && !helper_.getIsOnCtcMode()) {
        helper_.doProvisionOLT();
        recheckCounter = 0;
        return;
    }
    if (helper_.handleAlarms()) pollLocked(recheckCounter, opticsCounter);
}

void PONCardTask::pollLocked(int& recheckCounter, int& opticsCounter) {
    if (!helper_.getHasBridgeDomain()) {
        // Only an answer that lacks a domain resets the OLT; a query that went unanswered is
        // asked again at the next pass.
        if (!helper_.requestHasDomain()) return;
        if (!helper_.getHasBridgeDomain() || (helper_.getEnabledOnu2Onu() && !helper_.getHasOnu2OnuDomain())) {
            helper_.doResetOLT();
            helper_.clearAllOLTAlarm();
            return;
        }
    }
    helper_.doGetAllOnuQueue();
    helper_.handleOntStates();
    if (!helper_.getIsGetAllOnuKnown() && helper_.getHasBridgeDomain()) {
        helper_.doGetAllOnuKnown(false);
        helper_.doGetAllOnuInformation();
        if (!helper_.getEnabledOnu2Onu()) helper_.clearAllUnusedPaths();
    }
    helper_.doReportAlarmToHalvorn();
    if (opticsCounter++ > kOpticsAbove && helper_.getIsGetAllOnuKnown()) {
        opticsCounter = 0;
        helper_.doGetAllOnuOpticsPower();
        helper_.doGetAllOltOpticsPower();
    }
    if (recheckCounter++ > kRecheckAbove) {
        recheckCounter = 0;
        helper_.doRecheckConfiguration();
        helper_.doGetAllOnuKnown(false);
        // A link first seen here (its discovery message was lost, or the operator removed it
        // while it stayed registered) has no PON port yet: ask for it now, or it would be
        // reported with port "-" and never get its ONU-to-ONU path. Sends nothing when every
        // link's port is known.
        helper_.doGetAllOnuInformation();
    }
}

void PONCardTask::taskLoop() {
    for (;;) {
        std::unique_ptr<PMTask> task = tasks_.pop();
        runTask(*task);
    }
}

void PONCardTask::runTask(const PMTask& task) {
    const std::string name = task.getTask();
    const std::string mac = task.getDataValue("mac_address");
    std::lock_guard<std::mutex> lock(slotMutex_);
    if (name == Uris::kSlotEnable) {
        helper_.doEnableOLT();
    } else if (name == Uris::kSlotDisable) {
        helper_.doDisableOLT();
    } else if (name == Uris::kSlotReset) {
        helper_.doResetOLT();
        helper_.setHasRequestConfig(false);
    } else if (name == Uris::kSlotRestoreDefault) {
        helper_.doRestoreDefault();
    } else if (name == Uris::kSlotOnuRemove) {
        helper_.clearAllProvisioningForLogicalLink(mac);
        helper_.removeMacFromOnuList(mac);
    } else if (name == Uris::kSlotOnuReset) {
        helper_.doResetOnu(mac);
    } else if (name == Uris::kOltConfig) {
        runConfigTaskLocked(task);
    } else if (name == Uris::kSlotOnuSetVlanId) {
        helper_.doSetOnuVlan(task.getDataValue("vlan_id"), mac);
    } else if (name == Uris::kOltVlan) {
        helper_.doSetOltVlan(task.getDataValue("pon_number"), task.getDataValue("vlan_id"),
                             task.getDataValue("discard_untagged"));
    } else if (name == Uris::kSlotOnuDisable) {
        helper_.doDisableOnu(mac);
    } else if (name == Uris::kSlotOnuEnable) {
        helper_.doEnableOnu(mac);
    }
    // Any other name: accepted and dropped without effect.
}

void PONCardTask::runConfigTaskLocked(const PMTask& task) {
    const std::string source = task.getDataValue("src_ip_address");
    const std::string olt = task.getDataValue("ip_address");
    const std::string onu2onu = task.getDataValue("onu2onu");
    // Both addresses end up on the ping command line. Anything but IPv4 is refused before
    // anything changes: the slot keeps its addresses and its state.
    for (const auto& [key, value] : {std::pair<const char*, const std::string&>{"src_ip_address", source},
                                     std::pair<const char*, const std::string&>{"ip_address", olt}}) {
        if (!value.empty() && !TextRules::isPlainIPv4(value)) {
            std::printf("%s[%d]: Exception: Invalid IPv4(%s) for '%s', task /olt/config of slot %s ignored\n",
                        "runTask", __LINE__, value.c_str(), key, slot_.c_str());
            return;
        }
    }
    if (!source.empty()) {
        {
            std::lock_guard<std::mutex> lock(addressMutex_);
            sourceIpAddress_ = source;
        }
        // The first address any slot gives opens the socket that all slots share.
        if (socketHelper_ != nullptr) socketHelper_->setSourceIP(source);
    }
    if (!olt.empty()) setOltIpAddress(olt);
    if (!onu2onu.empty()) helper_.setEnabledOnu2Onu(onu2onu == "2");
    helper_.setHasRequestConfig(true);
}
