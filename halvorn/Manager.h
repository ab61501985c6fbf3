#pragma once
// The handler of the daemon: API requests from the web and SNMP workers (get/set of tables,
// rows and settings, slot and ONU actions) and notifications from the PON-card manager
// (OLT/ONU reports, alarms, offline resets). Keeps no state of its own besides references
// to the Database maps; safe to call from the request threads and the notification thread
// at once. Takes one table lock at a time (table before row); tasks are queued while a
// table lock is held so tasks of two changes of one table leave in the order of the changes.
// A change is answered once a read shows it (the table's ready JSON is rebuilt first); a
// read of a whole table whose ready JSON is stale (a notification changed it) rebuilds it.
// Request handlers throw Exception whose message is the response's error text.

#include <cstdint>
#include <functional>
#include <string>

#include "APIData.h"
#include "Container.h"
#include "Database.h"
#include "RwLockTable.h"
#include "TableRows.h"

class OnuLink;
class SystemManager;

class Manager {
public:
    // Queues a copy of a task envelope for the PON-card manager; false when it cannot.
    using TaskSink = std::function<bool(APIData*)>;

    // The process-wide instance over the process-wide Database and SystemManager.
    static Manager* getInstance();

    // Tasks go to QuenrikWorker unless a sink is set. systemManager may be nullptr in tests
    // that do not touch "/systeminfo" or "/network-interfaces".
    Manager(Database* database, SystemManager* systemManager);
    virtual ~Manager();
    Manager(const Manager&) = delete;
    Manager& operator=(const Manager&) = delete;

    // --- API requests: the response is left in the envelope (createResponse).
    // Throws "Invalid API request: <action>" for an action other than "get"/"set".
    void handlerApiRequest(APIData* request);
    void handlerApiRequestGet(APIData* request);
    void handlerApiRequestSet(APIData* request);
    // True for the six slot/ONU action URIs passed through to the PON-card manager.
    bool isApiPMTask(const std::string& name) const;
    // Queues "set" <uri> with the record's compact JSON; the record stays the caller's.
    bool sendQuenrikTask(const std::string& uri, Container* data);
    // Queues "/olt/vlan" for PON port 0 or 1 of the row and marks that port's VLAN as sent.
    // The caller holds the OLT table lock.
    void sendOltVlan(int pon, OltTableRow* row);
    // Id of the first row (ascending) whose key equals value exactly; 0 when none or on a
    // failure (printed). Takes the table's read lock itself.
    uint64_t getIdFromField(const std::string& uri, const std::string& key, const std::string& value);

    // --- Notifications: nothing is answered; failures are printed per table section.
    void handlerNotification(APIData* notification);
    void handlerNotifyOLTNew(const std::string& data);
    void handlerNotifyOLTSetAllOffline();
    void handlerNotifyAlarmNew(const std::string& data);
    void handlerNotifyOnuNew(const std::string& data);
    void handlerNotifyONUSetAllOffline(const std::string& data);
    void handlerNotifyGetOltConfig(const std::string& data);
    // Gives the row the link's slot and port and the smallest free ONU index there.
    // The caller holds the ONU table's write lock (hence the name of the table argument).
    void updateOnuIndexes(OnuLink* link, OnuTableRow* row, RwLockTable* onuTable);
    // The "slot_id" text of the data, "" when absent.
    std::string getSlotId(const std::string& data);
    // Deletes the ONU and module ONU rows of the request's "mac_address".
    void removeOnuFromTables(APIData* request);

    // Replaces the task queue (unit tests record tasks instead of sending them).
    void setTaskSinkForTest(TaskSink sink) { taskSink_ = std::move(sink); }

    // The most alarm rows kept; older ones are dropped as new ones arrive.
    static constexpr size_t kMaxAlarms = 50;

private:
    // The leading decimal digits of a slot text; throws "Invalid slot number '<text>'".
    static uint64_t toSlotNumber(const std::string& text);
    RwLockTable* getTable(const std::string& uri) const;
    // Rebuilds the table's ready JSON now if a change left it stale (takes the write lock).
    void refreshCachedJson(RwLockTable* table);
    bool queueTask(APIData* task);
    // "/slot/onu/set/vlanid" with "slot_id", "vlan_id", "mac_address".
    void sendOnuVlanTask(const std::string& slot, const std::string& vlan, const std::string& mac);
    // "/slot/onu/enable" when enabled is exactly "1", else "/slot/onu/disable".
    void sendOnuTrafficTask(const std::string& slot, const std::string& mac, const std::string& enabled);

    Database* database_;
    SystemManager* systemManager_;
    Database::TableMap& mapUriTable_;
    Database::ObjectMap& mapUriObject_;
    // Set once before the threads start; read-only afterwards.
    TaskSink taskSink_;
};
