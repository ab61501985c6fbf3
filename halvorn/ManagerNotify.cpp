// Notifications from the PON-card manager: OLT and ONU reports, alarms and the offline
// resets, applied to the tables one table section at a time. A section that fails is
// printed and the handler goes on with the next one; nothing is answered.
#include <cstdio>
#include <unordered_set>

#include "Exception.h"
#include "JsonHelper.h"
#include "Manager.h"
#include "OnuLink.h"
#include "PMTask.h"
#include "PONCard.h"
#include "PrintException.h"
#include "Uris.h"

namespace {

// Prints the exception being handled in the system's two forms; call only inside a catch.
void printCurrentException(const char* function, int line) {
    try {
        throw;
    } catch (const std::exception& e) {  // Exception included
        printException(function, line, e);
    } catch (...) {
        printUnexpectedException(function, line);
    }
    fflush(stdout);
}

const char* const kOltOpticKeys[] = {"qvOpticModuleOltTxPower", "qvOpticModuleOltVcc", "qvOpticModuleOltTxBias",
                                     "qvOpticModuleOltTemperature"};
const char* const kOnuOpticKeys[] = {"qvOpticModuleOnuTemperature", "qvOpticModuleOnuVcc", "qvOpticModuleOnuTxBias",
                                     "qvOpticModuleOnuTxPower", "qvOpticModuleOnuRxPower"};

// Sets the table's has-modified flag when the row really changed.
void markTable(RwLockTable* table, Container* row) {
    if (row->getHasModified()) table->setHasModified(true);
}

// The row's modified flag cleared, change applied, the table marked when the row really
// changed. The caller holds the table's write lock.
template <typename Change>
void changeRowLockHeld(RwLockTable* table, Container* row, Change change) {
    row->clearHasModified();
    change(row);
    markTable(table, row);
}

// The row of that id, when the table has it, changed as above under the table's write lock.
template <typename Change>
void changeRow(RwLockTable* table, uint64_t id, Change change) {
    Database::TableLock lock(table, true);
    Container* row = table->getFromId(id);
    if (row != nullptr) changeRowLockHeld(table, row, change);
}

// Under the table's write lock, every row (or, when slot is not empty, every row whose
// slotKey holds exactly that slot) changed as above.
template <typename Change>
void changeRows(RwLockTable* table, const char* slotKey, const std::string& slot, Change change) {
    Database::TableLock lock(table, true);
    for (Container* row : table->getAll()) {
        if (!slot.empty() && row->getValue(slotKey) != slot) continue;
        changeRowLockHeld(table, row, change);
    }
}

void setKeys(Container* row, const char* const* keys, size_t count, const std::string& value) {
    for (size_t i = 0; i < count; ++i) row->setValue(keys[i], value, true);
}

}  // namespace

void Manager::handlerNotification(APIData* notification) {
    const std::string uri = notification->getUri();
    const std::string data = notification->getJsonData();
    if (uri == Uris::kOltNewReport) handlerNotifyOLTNew(data);
    else if (uri == Uris::kOltSetAllOffline) handlerNotifyOLTSetAllOffline();
    else if (uri == Uris::kOltAlarmNew) handlerNotifyAlarmNew(data);
    else if (uri == Uris::kOnuNew) handlerNotifyOnuNew(data);
    else if (uri == Uris::kOnuSetAllOffline) handlerNotifyONUSetAllOffline(data);
    else if (uri == Uris::kOltGetConfig) handlerNotifyGetOltConfig(data);
}

void Manager::handlerNotifyOLTNew(const std::string& data) {
    PONCard card;
    try {
        if (!card.setJsonData(data)) return;
    } catch (...) {
        printCurrentException(__func__, __LINE__);
        return;
    }
    const std::string slotText = card.getSlotId();
    const bool online = card.getOnlineStatus();

    try {
        changeRow(getTable(Uris::kOltTable), toSlotNumber(slotText), [&](Container* changed) {
            OltTableRow* row = static_cast<OltTableRow*>(changed);
            row->setValue("qvCfgOLTApp1Version", card.getAppVersion(), true);
            row->setValue("qvCfgOLTMac", card.getMacAddress(), true);
            // The card reports NVS as a boolean; the table column uses 2 for enabled.
            row->setValue("qVCfgOLTNvsEnabled", card.getNVSEnabled() ? "2" : "1", true);
            if (online) {
                for (int port = 0; port <= 1; ++port) {
                    if (row->getHasVlanSet(port)) continue;
                    if (row->getValue(port == 0 ? "qvCfgOLTPON0VlanId" : "qvCfgOLTPON1VlanId").empty())
                        row->setHasVlanSet(port, true);
                    else sendOltVlan(port, row);
                }
            } else {
                // Sent again when the card comes back.
                row->setHasVlanSet(0, false);
                row->setHasVlanSet(1, false);
            }
        });
    } catch (...) {
        printCurrentException(__func__, __LINE__);
    }

    try {
        changeRow(getTable(Uris::kSlotTable), toSlotNumber(slotText),
                  [&](Container* row) { row->setValue("qvSlotStatus", online ? "1" : "2", true); });
    } catch (...) {
        printCurrentException(__func__, __LINE__);
    }

    try {
        RwLockTable* table = getTable(Uris::kModuleOltTable);
        const uint64_t slot = toSlotNumber(slotText);
        Database::TableLock lock(table, true);
        for (uint64_t pon = 1; pon <= 2 && slot >= 1; ++pon) {
            Container* row = table->getFromId(2 * slot - 2 + pon);
            if (row == nullptr) continue;
            row->clearHasModified();
            if (online) {
                ModuleOltTableRow* module = nullptr;
                try {
                    module = card.getModuleOltTable(static_cast<int>(pon) - 1);
                } catch (const Exception&) {
                    module = nullptr;  // a report without its module entries: keep the row
                }
                if (module != nullptr) {
                    const std::string keys[] = {kOltOpticKeys[0], kOltOpticKeys[1], kOltOpticKeys[2], kOltOpticKeys[3]};
                    row->setJsonData(module->getJsonData(true, keys, 4), false);
                }
            } else {
                setKeys(row, kOltOpticKeys, 4, "-");
            }
            markTable(table, row);
        }
    } catch (...) {
        printCurrentException(__func__, __LINE__);
    }
}

void Manager::handlerNotifyOLTSetAllOffline() {
    try {
        changeRows(getTable(Uris::kSlotTable), "", "",
                   [](Container* row) { row->setValue("qvSlotStatus", "2", true); });
    } catch (...) {
        printCurrentException(__func__, __LINE__);
    }
    try {
        changeRows(getTable(Uris::kModuleOltTable), "", "",
                   [](Container* row) { setKeys(row, kOltOpticKeys, 4, "-"); });
    } catch (...) {
        printCurrentException(__func__, __LINE__);
    }
}

void Manager::handlerNotifyAlarmNew(const std::string& data) {
    try {
        RwLockTable* table = getTable(Uris::kOltAlarmTable);
        JsonPtr root(JsonHelper::parseJObject(data));
        const cJSON* list = cJSON_GetObjectItemCaseSensitive(root.get(), "alarm_list");
        if (!cJSON_IsArray(list)) return;
        Database::TableLock lock(table, true);
        size_t added = 0;
        try {
            const cJSON* alarm = nullptr;
            cJSON_ArrayForEach(alarm, list) {
                // A non-object element would become an alarm row of empty texts.
                if (!cJSON_IsObject(alarm)) continue;
                database_->addNewObjectInTable(Uris::kOltAlarmTable, JsonHelper::toString(alarm, true));
                ++added;
            }
        } catch (...) {
            printCurrentException(__func__, __LINE__);
        }
        if (added == 0) return;
        // The newest alarms have the highest ids; keep the last kMaxAlarms, also after a
        // failure half-way through the list.
        std::vector<Container*> rows = table->getAll();
        for (size_t i = 0; i + kMaxAlarms < rows.size(); ++i) table->delFromId(rows[i]->getId());
        table->setHasModified(true);
    } catch (...) {
        printCurrentException(__func__, __LINE__);
    }
}

void Manager::handlerNotifyOnuNew(const std::string& data) {
    OnuLink link("");
    try {
        if (!link.setJsonData(data)) return;
    } catch (...) {
        printCurrentException(__func__, __LINE__);
        return;
    }
    const std::string mac = link.getMacAddress();
    if (mac.empty()) {
        // A row without a MAC address could never be told apart from the next one.
        printf("%s[%d]: Exception: ONU report without mac_address\n", __func__, __LINE__);
        fflush(stdout);
        return;
    }
    const bool online = link.getOnlineStatus();
    const std::string linkSlot = link.getSlotId();
    // A slot that is not a number ("-": not known yet) gets no task: the line card could not
    // route it.
    uint64_t slotNumber = 0;
    try {
        slotNumber = toSlotNumber(linkSlot);
    } catch (const Exception&) {
        slotNumber = 0;
    }

    uint64_t id = getIdFromField(Uris::kOnuTable, "qvCfgONUPhysicalID", mac);
    if (id == 0) id = database_->insertOnuTable(&link);

    bool rowFound = false;
    std::string onuSlot, onuPon, onuIndex;
    try {
        RwLockTable* table = getTable(Uris::kOnuTable);
        Database::TableLock lock(table, true);
        // The row may have been removed by a request since the lookup: then nothing to do.
        OnuTableRow* row = id == 0 ? nullptr : static_cast<OnuTableRow*>(table->getFromId(id));
        if (row != nullptr) {
            rowFound = true;
            row->clearHasModified();
            updateOnuIndexes(&link, row, table);
            row->setValue("qvCfgONULinkStatus", online ? "1" : "2", true);
            row->setValue("qvCfgONUAlarm", link.getAlarmMessage(), true);
            row->setValue("qvCfgONUGigabitStatus", link.getIsGigabit() ? "1" : "0", true);
            if (row->getHasModified()) {
                table->setHasModified(true);
                table->setHasJsonFileModified(true);
            }
            onuSlot = row->getValue("qvCfgONUSlotIndex");
            onuPon = row->getValue("qvCfgONUPonIndex");
            onuIndex = row->getValue("qvCfgONUIndex");
            if (!online) {
                row->setHasVlanSet(false);
            } else if (slotNumber > 0) {
                const std::string rowMac = row->getValue("qvCfgONUPhysicalID");
                if (!row->getHasVlanSet()) {
                    sendOnuVlanTask(linkSlot, row->getValue("qvCfgONUVlanId"), rowMac);
                    row->setHasVlanSet(true);
                }
                // The traffic state is repeated on every report: the card may have lost it.
                sendOnuTrafficTask(linkSlot, rowMac, row->getValue("qvCfgONUEnabled"));
            }
        }
    } catch (...) {
        printCurrentException(__func__, __LINE__);
    }
    if (!rowFound) return;

    try {
        uint64_t moduleId = getIdFromField(Uris::kModuleOnuTable, "qvOpticModuleOnuPhysicalID", mac);
        if (moduleId == 0) moduleId = database_->insertModuleOnuTable(&link, onuIndex);
        RwLockTable* table = getTable(Uris::kModuleOnuTable);
        Database::TableLock lock(table, true);
        Container* row = moduleId == 0 ? nullptr : table->getFromId(moduleId);
        if (row != nullptr) {
            row->clearHasModified();
            row->setValue("qvOpticModuleOnuSlotIndex", onuSlot, true);
            row->setValue("qvOpticModuleOnuPonIndex", onuPon, true);
            row->setValue("qvOpticModuleOnuIndex", onuIndex, true);
            if (online) {
                row->setValue("qvOpticModuleOnuTemperature", link.getTemperature(), true);
                row->setValue("qvOpticModuleOnuVcc", link.getSupplyVoltage(), true);
                row->setValue("qvOpticModuleOnuTxBias", link.getTxBiasCurrent(), true);
                row->setValue("qvOpticModuleOnuTxPower", link.getTxPowerOutput(), true);
                row->setValue("qvOpticModuleOnuRxPower", link.getTxPowerInput(), true);
            } else {
                setKeys(row, kOnuOpticKeys, 5, "-");
            }
            markTable(table, row);
        }
    } catch (...) {
        printCurrentException(__func__, __LINE__);
    }
}

void Manager::updateOnuIndexes(OnuLink* link, OnuTableRow* row, RwLockTable* onuTable) {
    const std::string slot = link->getSlotId();
    const std::string pon = link->getPonPort();
    if (row->getValue("qvCfgONUSlotIndex") == slot && row->getValue("qvCfgONUPonIndex") == pon &&
        !row->getValue("qvCfgONUIndex").empty())
        return;
    // Not known yet: keep what the row has rather than file the ONU under "-".
    if (slot == "-" || pon == "-" || slot.empty() || pon.empty()) return;
    row->setValue("qvCfgONUSlotIndex", slot, true);
    row->setValue("qvCfgONUPonIndex", pon, true);

    // The smallest positive index not used by another ONU on this slot and port. One walk
    // collecting the used indexes gives the same number as restarting the walk after every
    // hit, without its quadratic cost on a full port.
    std::unordered_set<std::string> used;
    for (Container* other : onuTable->getAll()) {
        if (other == row) continue;
        if (other->getValue("qvCfgONUSlotIndex") == slot && other->getValue("qvCfgONUPonIndex") == pon)
            used.insert(other->getValue("qvCfgONUIndex"));
    }
    uint64_t n = 1;
    while (used.count(std::to_string(n)) != 0) ++n;
    row->setValue("qvCfgONUIndex", std::to_string(n), true);
}

void Manager::handlerNotifyONUSetAllOffline(const std::string& data) {
    const std::string slot = getSlotId(data);
    try {
        changeRows(getTable(Uris::kOnuTable), "qvCfgONUSlotIndex", slot, [](Container* row) {
            static_cast<OnuTableRow*>(row)->setHasVlanSet(false);
            row->setValue("qvCfgONULinkStatus", "2", true);
        });
    } catch (...) {
        printCurrentException(__func__, __LINE__);
    }
    try {
        changeRows(getTable(Uris::kModuleOnuTable), "qvOpticModuleOnuSlotIndex", slot,
                   [](Container* row) { setKeys(row, kOnuOpticKeys, 5, "-"); });
    } catch (...) {
        printCurrentException(__func__, __LINE__);
    }
    try {
        // Only the flags change here, so the table itself is never marked.
        changeRows(getTable(Uris::kOltTable), "qvCfgOLTSlotIndex", slot, [](Container* row) {
            static_cast<OltTableRow*>(row)->setHasVlanSet(0, false);
            static_cast<OltTableRow*>(row)->setHasVlanSet(1, false);
        });
    } catch (...) {
        printCurrentException(__func__, __LINE__);
    }
}

void Manager::handlerNotifyGetOltConfig(const std::string& data) {
    PONCard card;
    try {
        if (!card.setJsonData(data)) return;
    } catch (...) {
        printCurrentException(__func__, __LINE__);
        return;
    }
    bool built = false;
    Container task;
    try {
        const uint64_t slot = toSlotNumber(card.getSlotId());
        // Read before the table lock: a record lock is never taken inside a table lock here.
        Container* info = database_->getObjectFromUri(Uris::kSystemInfo);
        const std::string source = info != nullptr ? info->getValue("oltIpAddr") : "";
        RwLockTable* table = getTable(Uris::kOltTable);
        Database::TableLock lock(table, false);
        Container* row = table->getFromId(slot);
        if (row != nullptr) {
            task.setNewValue("src_ip_address", source);
            task.setNewValue("slot_id", row->getValue("qvCfgOLTSlotIndex"));
            task.setNewValue("ip_address", row->getValue("qvCfgOLTIpAddress"));
            task.setNewValue("onu2onu", row->getValue("qvCfgOLTOnu2Onu"));
            built = true;
        }
    } catch (...) {
        printCurrentException(__func__, __LINE__);
    }
    if (built) sendQuenrikTask(Uris::kOltConfig, &task);
}

std::string Manager::getSlotId(const std::string& data) {
    Container record;
    record.setNewValue("slot_id", "");
    if (data.empty()) return "";
    try {
        record.setJsonData(data, false);
    } catch (...) {
        printCurrentException(__func__, __LINE__);
    }
    return record.getValue("slot_id");
}

void Manager::removeOnuFromTables(APIData* request) {
    std::string mac;
    try {
        PMTask task;
        task.parseTask(*request);
        mac = task.getDataValue("mac_address");
    } catch (...) {
        printCurrentException(__func__, __LINE__);
        return;
    }
    // Without a MAC address the removal would hit every row whose MAC is empty.
    if (mac.empty()) return;

    size_t deleted = 0;
    RwLockTable* onuTable = getTable(Uris::kOnuTable);
    try {
        Database::TableLock lock(onuTable, true);
        for (Container* row : onuTable->getAll()) {
            if (row->getValue("qvCfgONUPhysicalID") != mac) continue;
            onuTable->delFromId(row->getId());
            ++deleted;
        }
        if (deleted > 0) {
            onuTable->setHasModified(true);
            onuTable->setHasJsonFileModified(true);
        }
    } catch (...) {
        printCurrentException(__func__, __LINE__);
    }
    if (deleted == 0) return;

    RwLockTable* moduleTable = getTable(Uris::kModuleOnuTable);
    try {
        Database::TableLock lock(moduleTable, true);
        for (Container* row : moduleTable->getAll()) {
            if (row->getValue("qvOpticModuleOnuPhysicalID") != mac) continue;
            moduleTable->delFromId(row->getId());
        }
        moduleTable->setHasModified(true);
    } catch (...) {
        printCurrentException(__func__, __LINE__);
    }
    // The request is answered after this: a read then finds the ONU gone from both tables.
    refreshCachedJson(moduleTable);
    refreshCachedJson(onuTable);
}
