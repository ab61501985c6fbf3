// API requests of the web interface and the SNMP agent: reads of tables, rows and settings,
// row and settings changes with the line-card tasks they imply, and pass-through actions.
#include <cstdio>

#include "Exception.h"
#include "Helper.h"
#include "Manager.h"
#include "SystemInfo.h"
#include "SystemManager.h"
#include "Uris.h"

void Manager::handlerApiRequest(APIData* request) {
    const std::string action = request->getAction();
    if (action == "get") handlerApiRequestGet(request);
    else if (action == "set") handlerApiRequestSet(request);
    else throw Exception("Invalid API request: " + action, __func__, __LINE__);
}

bool Manager::isApiPMTask(const std::string& name) const {
    return name == Uris::kSlotEnable || name == Uris::kSlotDisable || name == Uris::kSlotReset ||
           name == Uris::kSlotOnuRemove || name == Uris::kSlotOnuReset || name == Uris::kSlotRestoreDefault;
}

void Manager::handlerApiRequestGet(APIData* request) {
    std::string name;
    uint64_t id = 0;
    Helper::uriParse(request->getUri(), name, id);

    auto object = mapUriObject_.find(name);
    if (object != mapUriObject_.end()) {
        request->createResponseCompact(object->second->getJsonData(true, nullptr, 0));
        return;
    }
    RwLockTable* table = getTable(name);
    if (table != nullptr) {
        // A change that came as a notification shows in the very next read, as one made by
        // a request does: the first read after it rebuilds the stale ready text (only the
        // changed rows are printed again), the reads after it find it fresh.
        if (id == 0) refreshCachedJson(table);
        std::string text;
        try {
            Database::TableLock lock(table, false);
            if (id == 0) {
                // The ready text goes into the response straight from the table (one copy,
                // under the read lock); a read never prints a whole table.
                request->createResponseCompact(table->getCachedJsonLockHeld());
                return;
            }
            Container* row = table->getFromId(id);
            if (row == nullptr)
                throw Exception("id(" + std::to_string(id) + ") not found on table " + name, __func__, __LINE__);
            text = row->getJsonData(true, nullptr, 0);
        } catch (const Exception& e) {
            throw Exception(e.getMessage(), __func__, __LINE__);
        } catch (...) {
            throw Exception("Unknown exception on Request Get", __func__, __LINE__);
        }
        request->createResponseCompact(text);
        return;
    }
    if (name == Uris::kNetworkInterfaces && systemManager_ != nullptr) {
        request->createResponse("", systemManager_->getJsonAllNetworkInterfaces());
        return;
    }
    throw Exception("Object name '" + name + "' not found", __func__, __LINE__);
}

void Manager::handlerApiRequestSet(APIData* request) {
    std::string name;
    uint64_t id = 0;
    Helper::uriParse(request->getUri(), name, id);
    const std::string data = request->getJsonData();

    if (name == Uris::kSystemInfo) {
        SystemInfo* info = dynamic_cast<SystemInfo*>(database_->getObjectFromUri(name));
        if (info == nullptr) throw Exception("Object name '" + name + "' not found", __func__, __LINE__);
        // The errors of this change itself: the record's last error text may already be that
        // of a change on the other channel.
        std::string error;
        const bool accepted = info->setJsonData(data, false, error);
        // Alarm times are shown shifted by the configured time zone: rebuild their text, also
        // when another member of the same change was refused (the members are independent).
        if (info->getHasJsonFileModified()) {
            RwLockTable* alarms = getTable(Uris::kOltAlarmTable);
            if (alarms != nullptr) {
                // Under the table's lock: a rebuild under way (printing the old zone) would
                // otherwise clear the flag after it was set here, and the alarm times would
                // keep the old zone until the next alarm.
                Database::TableLock lock(alarms, true);
                alarms->forgetRowTexts();
                alarms->setHasModified(true);
            }
        }
        if (!accepted) throw Exception(error, __func__, __LINE__);
        if (systemManager_ != nullptr) systemManager_->initNTPClient(info);
        request->createResponse("", "");
        return;
    }
    if (name == Uris::kPrivateStore) {
        Container* store = database_->getObjectFromUri(name);
        if (store == nullptr) throw Exception("Object name '" + name + "' not found", __func__, __LINE__);
        store->setJsonData(data, false);
        request->createResponse("", "");
        return;
    }

    RwLockTable* table = getTable(name);
    if (table != nullptr) {
        try {
            Database::TableLock lock(table, true);
            Container* row = id == 0 ? nullptr : table->getFromId(id);
            if (row == nullptr) throw Exception("Invalid ID object '" + std::to_string(id) + "'", __func__, __LINE__);
            row->clearHasModified();
            row->clearHasJsonFileModified();
            try {
                if (name == Uris::kOltTable) {
                    OltTableRow* olt = static_cast<OltTableRow*>(row);
                    const std::string vlan0 = olt->getValue("qvCfgOLTPON0VlanId");
                    const std::string vlan1 = olt->getValue("qvCfgOLTPON1VlanId");
                    const std::string untagged0 = olt->getValue("qvCfgOLTPON0DisUntagged");
                    const std::string untagged1 = olt->getValue("qvCfgOLTPON1DisUntagged");
                    if (olt->setJsonData(data, false)) {
                        // The card needs its new address before anything addressed to it.
                        if (olt->getHasUpdateIpAddress()) {
                            Container task;
                            task.setNewValue("slot_id", olt->getValue("qvCfgOLTSlotIndex"));
                            task.setNewValue("ip_address", olt->getValue("qvCfgOLTIpAddress"));
                            sendQuenrikTask(Uris::kOltConfig, &task);
                        }
                        if (olt->getValue("qvCfgOLTPON0VlanId") != vlan0 ||
                            olt->getValue("qvCfgOLTPON0DisUntagged") != untagged0)
                            sendOltVlan(0, olt);
                        if (olt->getValue("qvCfgOLTPON1VlanId") != vlan1 ||
                            olt->getValue("qvCfgOLTPON1DisUntagged") != untagged1)
                            sendOltVlan(1, olt);
                    }
                } else if (name == Uris::kOnuTable) {
                    OnuTableRow* onu = static_cast<OnuTableRow*>(row);
                    const std::string vlan = onu->getValue("qvCfgONUVlanId");
                    const std::string enabled = onu->getValue("qvCfgONUEnabled");
                    if (onu->setJsonData(data, false)) {
                        const std::string slot = onu->getValue("qvCfgONUSlotIndex");
                        const std::string mac = onu->getValue("qvCfgONUPhysicalID");
                        const std::string nowVlan = onu->getValue("qvCfgONUVlanId");
                        if (nowVlan != vlan && !slot.empty()) {
                            sendOnuVlanTask(slot, nowVlan, mac);
                            onu->setHasVlanSet(true);
                        }
                        const std::string nowEnabled = onu->getValue("qvCfgONUEnabled");
                        if (nowEnabled != enabled) sendOnuTrafficTask(slot, mac, nowEnabled);
                    }
                } else {
                    row->setJsonData(data, false);
                }
            } catch (...) {
                // Whatever was applied before the failure must still reach the ready text and
                // the file, or readers would see the old row until some later change.
                if (row->getHasJsonFileModified()) table->setHasJsonFileModified(true);
                if (row->getHasModified()) table->setHasModified(true);
                throw;
            }
            if (row->getHasJsonFileModified()) table->setHasJsonFileModified(true);
            if (row->getHasModified()) table->setHasModified(true);
            request->createResponse("", "");
        } catch (const Exception& e) {
            throw Exception(e.getMessage(), __func__, __LINE__);
        } catch (...) {
            throw Exception("Unknown exception on Request Set", __func__, __LINE__);
        }
        refreshCachedJson(table);
        return;
    }

    if (!isApiPMTask(name)) throw Exception("Object name '" + name + "' not found", __func__, __LINE__);
    const bool queued = queueTask(request);
    if (name == Uris::kSlotOnuRemove) removeOnuFromTables(request);
    request->createResponse(queued ? "" : "Impossible to send this task", "");
}
