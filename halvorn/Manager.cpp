#include "Manager.h"

#include <cstdio>

#include "Exception.h"
#include "PrintException.h"
#include "QuenrikWorker.h"
#include "SystemManager.h"
#include "Uris.h"

Manager* Manager::getInstance() {
    // Never destroyed: the worker threads hold on to it until the process ends.
    static Manager* instance = new Manager(Database::getInstance(), SystemManager::getInstance());
    return instance;
}

Manager::Manager(Database* database, SystemManager* systemManager)
    : database_(database),
      systemManager_(systemManager),
      mapUriTable_(database->getMapUriTable()),
      mapUriObject_(database->getMapUriObject()) {}

Manager::~Manager() = default;

RwLockTable* Manager::getTable(const std::string& uri) const {
    auto it = mapUriTable_.find(uri);
    return it == mapUriTable_.end() ? nullptr : it->second;
}

void Manager::refreshCachedJson(RwLockTable* table) {
    // A change is answered only once a read shows it. Waiting for the database cycle to
    // rebuild the text (up to 3 s) cannot promise that, the cycle being a little longer than
    // the wait; one rebuild here can, and spares the channel the wait. Reads call it too.
    if (!table->getHasModified()) return;
    try {
        Database::TableLock lock(table, true);
        if (table->getHasModified()) table->buildCachedJson();
    } catch (const Exception& e) {
        printException(__func__, __LINE__, e);
        fflush(stdout);
    }
}

bool Manager::queueTask(APIData* task) {
    if (taskSink_) return taskSink_(task);
    return QuenrikWorker::getInstance()->sendQuenrikTask(task);
}

bool Manager::sendQuenrikTask(const std::string& uri, Container* data) {
    APIData task;
    task.createRequest("set", uri, data->getJsonData(true, nullptr, 0));
    return queueTask(&task);
}

void Manager::sendOnuVlanTask(const std::string& slot, const std::string& vlan, const std::string& mac) {
    Container task;
    task.setNewValue("slot_id", slot);
    task.setNewValue("vlan_id", vlan);
    task.setNewValue("mac_address", mac);
    sendQuenrikTask(Uris::kSlotOnuSetVlanId, &task);
}

void Manager::sendOnuTrafficTask(const std::string& slot, const std::string& mac, const std::string& enabled) {
    Container task;
    task.setNewValue("slot_id", slot);
    task.setNewValue("mac_address", mac);
    sendQuenrikTask(enabled == "1" ? Uris::kSlotOnuEnable : Uris::kSlotOnuDisable, &task);
}

void Manager::sendOltVlan(int pon, OltTableRow* row) {
    const std::string port = pon == 0 ? "0" : "1";
    Container task;
    task.setNewValue("slot_id", row->getValue("qvCfgOLTSlotIndex"));
    task.setNewValue("vlan_id", row->getValue("qvCfgOLTPON" + port + "VlanId"));
    task.setNewValue("discard_untagged", row->getValue("qvCfgOLTPON" + port + "DisUntagged"));
    task.setNewValue("pon_number", port);
    sendQuenrikTask(Uris::kOltVlan, &task);
    row->setHasVlanSet(pon, true);
}

uint64_t Manager::getIdFromField(const std::string& uri, const std::string& key, const std::string& value) {
    try {
        RwLockTable* table = getTable(uri);
        if (table == nullptr) throw Exception("Table uri not exists: " + uri, __func__, __LINE__);
        Database::TableLock lock(table, false);
        for (Container* row : table->getAll()) {
            if (row->hasKey(key) && row->getValue(key) == value) return row->getId();
        }
    } catch (const Exception& e) {
        printException(__func__, __LINE__, e);
        fflush(stdout);
    } catch (...) {
        printUnexpectedException(__func__, __LINE__);
        fflush(stdout);
    }
    return 0;
}

uint64_t Manager::toSlotNumber(const std::string& text) {
    // Slots travel as decimal text; anything without leading digits (or beyond any slot
    // number) is refused rather than read as 0 or wrapped.
    size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    uint64_t number = 0;
    size_t digits = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos, ++digits) {
        number = number * 10 + static_cast<uint64_t>(text[pos] - '0');
        if (number > 1000000) throw Exception("Invalid slot number '" + text + "'", __func__, __LINE__);
    }
    if (digits == 0) throw Exception("Invalid slot number '" + text + "'", __func__, __LINE__);
    return number;
}
