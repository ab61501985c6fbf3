// What the OLT reports on its own (restart, link discovery, alarms, links moving between PON
// ports), the alarm rows built from it, and the optical readings of the ONUs and the OLT.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Exception.h"
#include "Helper.h"
#include "JsonHelper.h"
#include "OnuLink.h"
#include "PONCardHelper.h"
#include "TKHelper.h"
#include "TKMessage.h"
#include "TableRows.h"
#include "Uris.h"

namespace {

constexpr int kOltReady = TK_OLT_READY;                          // 32768
constexpr int kLinkDiscovery = TK_LINK_DISCOVERY;                // 32793
constexpr int kReportAlarm = TK_REPORT_ALARM;                    // 32794
constexpr int kLinkMoved = TK_ONU_LINK_MOVED_BETWEEN_PON_PORTS;  // 32811

}  // namespace

bool PONCardHelper::handleAlarms() {
    clear();
    alarmBuffer_.clear();
    std::vector<std::unique_ptr<TKMessage>> pulled;
    socket_.pullAllAlarm(pulled);
    for (auto& message : pulled) {
        // Each message on its own: one that cannot be read (an unknown ID, an entity tag the
        // decoder refuses) is printed and skipped, and an OLT Ready or a Link Discovery in
        // the same batch is still handled.
        Container* record = nullptr;
        try {
            alarmBuffer_.clear();
            alarmBuffer_.addResponseMessage(std::move(message));
            alarmBuffer_.parseAllMessages();
            record = alarmBuffer_.getContainer(0);
        } catch (const Exception& e) {
            std::printf("%s\n", e.what());
            continue;
        } catch (...) {
            std::printf("Unknown Error at %s\n", __func__);
            continue;
        }
        if (record == nullptr) continue;
        try {
            const std::string idText = record->getValue("alarm_message_id");
            const int id = TKHelper::toGeneralReportAlarmId(idText);
            if (id == kOltReady) {
                // The OLT has started afresh: identify and provision it again. What it sent
                // before it restarted no longer applies.
                setInitialState();
                return false;
            }
            if (id == kLinkDiscovery) {
                const std::string mac = record->getValue("link_mac");
                onuList_.addOnuLink(mac);
                OnuLink* link = onuList_.getOnuLinkFromMAC(mac);
                if (link != nullptr) {
                    link->setPonPort(record->getValue("info_downstream_epon_port"));
                    link->clearAlarmMessage();
                    link->setIsGigabit(false);
                    link->setEthernetUpStatus(false);
                    link->setOnlineStatus(true);
                    link->setStatusReported(false);
                    link->setSlotId(slot_);
                }
                addLinkReportAlarm(mac);
            } else if (id == kReportAlarm) {
                const int code = TKHelper::toReportAlarmId(record->getValue("alarm_id"));
                if (code == TK_ALARM_REPORT_TIMEOUT || code == TK_ALARM_STANDARD_DYING_GASP) {
                    OnuLink* link = onuList_.getOnuLinkFromMAC(record->getValue("mac_address"));
                    if (link != nullptr) {
                        link->setStatusReported(false);
                        link->setOnlineStatus(false);
                        link->setIsGigabit(false);
                        link->setEthernetUpStatus(false);
                        link->addAlarmMessage(TKHelper::getStringReportAlarmId(code));
                    }
                }
                addReportAlarm(*record);
            } else if (id == kLinkMoved) {
                const std::string mac = record->getValue("link_mac_address");
                OnuLink* link = onuList_.getOnuLinkFromMAC(mac);
                if (link != nullptr) {
                    link->setPonPort(record->getValue("to"));
                    link->setOnlineStatus(true);
                    link->setStatusReported(false);
                }
                addGeneralOnuReportAlarm(kLinkMoved, mac);
            } else {
                std::printf("ALARM not handled(%s)\n", idText.c_str());
            }
        } catch (const Exception& e) {
            std::printf("%s\n", e.what());
        } catch (...) {
            std::printf("Unknown Error at %s\n", __func__);
        }
    }
    return true;
}

void PONCardHelper::addReportAlarm(const Container& message) {
    try {
        const std::string state = message.getValue("alarm_state") == "1" ? "On" : "Off";
        const int tag = TKHelper::toEntityTagId(message.getValue("entity_tag"));
        const std::string port = tag == TK_ENTITY_OLT_PORT ? message.getValue("port_number") : "";
        addCustomReportAlarm(tag, port, message.getValue("mac_address"),
                             TKHelper::getStringReportAlarmId(message.getValue("alarm_id")), state);
    } catch (const Exception& e) {
        std::printf("Exception: %s\n", e.getMessage().c_str());
    } catch (...) {
        std::printf("Unknown Error at %s\n", __func__);
    }
}

void PONCardHelper::addLinkReportAlarm(const std::string& mac) {
    // A newly discovered link clears its Report Timeout alarm.
    try {
        addCustomReportAlarm(TK_ENTITY_ONU_LINK, "", mac, TKHelper::getStringReportAlarmId(TK_ALARM_REPORT_TIMEOUT),
                             "Off");
    } catch (const Exception& e) {
        std::printf("Exception: %s\n", e.getMessage().c_str());
    }
}

void PONCardHelper::addGeneralOnuReportAlarm(int messageId, const std::string& mac) {
    addCustomReportAlarm(TK_ENTITY_ONU_LINK, "", mac, TKHelper::getStringGeneralReportAlarmId(messageId), "On");
}

void PONCardHelper::addCustomReportAlarm(int entityTag, const std::string& port, const std::string& mac,
                                         const std::string& alarm, const std::string& state) {
    auto row = std::make_unique<OltAlarmTableRow>();
    try {
        std::string label = TKHelper::getStringEntityTagId(entityTag) + ": ";
        if (entityTag == TK_ENTITY_ONU_LINK || entityTag == TK_ENTITY_OLT_LINK) label += mac;
        else if (entityTag == TK_ENTITY_OLT_PORT) label += TKHelper::getStringEntityPortId(port);
        row->setValue("alarm", alarm, true);
        row->setValue("label", label, true);
        row->setValue("state", state, true);
        row->setValue("slot_id", slot_, true);
        row->setValue("datetime", Helper::getCurrentDateTime(false), true);
        alarmReport_.addItemToList(kAlarmList, row.release());
    } catch (const Exception& e) {
        std::printf("Exception: %s\n", e.getMessage().c_str());
    } catch (...) {
        std::printf("Unknown Error at %s\n", __func__);
    }
}

void PONCardHelper::doReportAlarmToHalvorn() {
    runOperation(__func__, [&] {
        if (alarmReport_.getListSize(kAlarmList) == 0) return true;
        // {"alarm_list":[<row>...]}: the rows as they print compactly, each one object.
        notify(Uris::kOltAlarmNew,
               "{\"alarm_list\":" + JsonHelper::toString(alarmReport_.getList(kAlarmList), true) + "}");
        clearAllAlarm();
        return true;
    });
}

void PONCardHelper::clearAllAlarm() { alarmReport_.clearList(kAlarmList); }

bool PONCardHelper::doGetAllOnuOpticsPower() {
    for (size_t i = 0; i < onuList_.size(); ++i) {
        OnuLink* link = onuList_.getOnuLinkFromIndex(i);
        if (!link->getOnlineStatus()) continue;
        // A failed reading is printed inside and the walk goes on with the next link.
        if (doGetOnuOpticsPower(link)) link->setStatusReported(false);
    }
    return true;
}

bool PONCardHelper::doGetOnuOpticsPower(OnuLink* link) {
    return runOperation(__func__, [&] {
        clear();
        request_.addGetCTC21OpticalTransceiverDiagnosis(link->getMacAddress());
        sendRequestMessage();
        Container& answer = firstAnswer("doGetOnuOpticsPower");
        if (answer.getValue("result") != "0") return false;
        link->clearHasModified();
        link->setTemperature(TKHelper::toCelsius_Temperature(answer.getValue("transceiver_temperature")));
        link->setSupplyVoltage(TKHelper::toVoltage_VCC(answer.getValue("supply_vcc")));
        link->setTxBiasCurrent(TKHelper::toMiliAmps_Current(answer.getValue("tx_bias_current")));
        link->setTxPowerOutput(TKHelper::todBm_Power(answer.getValue("tx_power_out")));
        link->setTxPowerInput(TKHelper::todBm_Power(answer.getValue("tx_power_in")));
        return link->getHasModified();
    });
}

bool PONCardHelper::doGetAllOltOpticsPower() {
    bool ok = true;
    for (uint16_t port : {0, 1}) {
        if (doGetOltOpticsPower(port)) card_.setStatusReported(false);
        else ok = false;
    }
    return ok;
}

bool PONCardHelper::doGetOltOpticsPower(uint16_t port) {
    return runOperation(__func__, [&] {
        clear();
        request_.addGetStatistics(oltMac(), port);
        sendRequestMessage();
        Container& answer = firstAnswer("doGetOltOpticsPower");
        if (answer.getValue("result") != "0" || !answer.hasList("result_list_stats")) return false;
        std::string txPower = "-", vcc = "-", bias = "-", temperature = "-";
        for (Container* stat : answer.getList("result_list_stats")) {
            const std::string element = stat->getValue("result_id_val_element");
            const std::string value = stat->getValue("result_value");
            if (element == "4") txPower = TKHelper::todBm_Power(value);
            else if (element == "5") vcc = TKHelper::toVoltage_VCC(value);
            else if (element == "6") bias = TKHelper::toMiliAmps_Current(value);
            else if (element == "7") temperature = TKHelper::toCelsius_Temperature(value);
        }
        ModuleOltTableRow* module = card_.getModuleOltTable(port);
        module->clearHasModified();
        module->setValue("qvOpticModuleOltTxBias", bias, true);
        module->setValue("qvOpticModuleOltTxPower", txPower, true);
        module->setValue("qvOpticModuleOltVcc", vcc, true);
        module->setValue("qvOpticModuleOltTemperature", temperature, true);
        if (module->getHasModified()) card_.setStatusReported(false);
        return true;
    });
}
