#pragma once
// The pattern all five MIB tables follow, written once. A table module describes its table
// (OID, Halvorn URI, columns with their row keys and entry fields) in a MibTableLayout and
// owns one MibTable; the WENDIX_MIB_TABLE_FUNCTIONS macro then gives it the net-snmp
// callbacks under the table's own names (<table>_load, <table>_handler, ...).
//
// A table keeps Halvorn's rows twice: in a RwLockTable of the row class (the rows as
// Halvorn sent them) and in a singly linked list of fixed-size entries that net-snmp's table
// iterator walks. Both are replaced as a whole by load(), which net-snmp's cache handler
// runs when a request finds the cache expired, and emptied by freeAll().
//
// Lifetimes: the cache handler may free and reload the entries whenever a request (or a
// SET's RESERVE1 phase) finds the cache expired, and frees them at a SET's COMMIT. Entry
// pointers handed out by the iterator are therefore used only within the phase that looked
// them up (GET, RESERVE1). A SET remembers the row's id from RESERVE1 and looks the row
// and the entry up again by id in ACTION.
//
// Everything runs on the agent's one thread; the RwLockTable locks are taken as the data
// model requires but are never contended. Nothing here throws to net-snmp.

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "RwLockTable.h"

class Container;
class HalvornAPI;

// The enterprise number under which every table lies: 1.3.6.1.4.1.<kEnterprise>.
constexpr oid kEnterprise = WENDIX_ENTERPRISE;

// Longest text a column holds and a SET may write.
constexpr size_t kMaxText = 255;

// A text column as an entry keeps it: at most kMaxText characters and their count.
struct TextValue {
    char text[kMaxText + 1];
    size_t len;
};

// One served column: its number, the row key it comes from, and the entry field that holds
// it (integer or text, exactly one of the two is set).
template <class Entry>
struct MibColumn {
    unsigned number;
    const char* key;
    long Entry::*integer;
    TextValue Entry::*text;
    bool writable;
};

template <class Entry>
struct MibTableLayout {
    const char* name;                       // "qvCfgONUTable"
    std::vector<oid> oidSuffix;             // below 1.3.6.1.4.1.E
    const char* uri;                        // Halvorn's table URI, "/onutable"
    unsigned maxColumn;                     // columns are 1..maxColumn; only `columns` are served
    bool writable;                          // registered for SET as well as GET
    bool skipRowsWithEmptyIndex;            // rows whose index texts are not all set are left out
    std::vector<unsigned> indexColumns;     // the columns that hold the index values, in order
    std::vector<MibColumn<Entry>> columns;  // ascending column number
};

// The net-snmp callbacks of one table, under the table's own names.
struct MibCallbacks {
    Netsnmp_Node_Handler* handler;
    Netsnmp_First_Data_Point* firstDataPoint;
    Netsnmp_Next_Data_Point* nextDataPoint;
    NetsnmpCacheLoad* load;
    NetsnmpCacheFree* free;
};

// Process-wide: each registration takes 120 s plus this as its cache time-out, then adds 10.
extern int incr_scaling;

// Seconds of the next registration's cache time-out: the fixed time-out when one is set,
// else 120 + incr_scaling.
int nextCacheTimeout();
// Gives every later registration a cache time-out of `seconds` (Wendix's -C option: a cache
// that expires within seconds, to see changes through the agent at once); 0: the default.
void setFixedCacheTimeout(int seconds);

// Entry needs the fields `uint64_t id` and `Entry* next`. Row is the row class of the table
// (Part of the data model); Halvorn's JSON rows are read into it.
template <class Entry, class Row>
class MibTable {
public:
    MibTable(MibTableLayout<Entry> layout, Entry*& head, RwLockTable& table);

    // Registers handler, table iterator and cache handler, then loads the table once.
    void initialize(const MibCallbacks& callbacks);

    // A zeroed entry with the given index values, put at the head; nullptr when memory is short.
    Entry* createEntry(const std::vector<long>& indexes);
    // Unlinks and frees one entry.
    void removeEntry(Entry* entry);

    int load();
    void freeAll();

    netsnmp_variable_list* firstDataPoint(void** loopContext, void** dataContext, netsnmp_variable_list* indexes);
    netsnmp_variable_list* nextDataPoint(void** loopContext, void** dataContext, netsnmp_variable_list* indexes);

    int handle(netsnmp_handler_registration* registration, netsnmp_agent_request_info* reqinfo,
               netsnmp_request_info* requests);

    const MibTableLayout<Entry>& layout() const { return layout_; }

private:
    const MibColumn<Entry>* findColumn(unsigned number) const;
    Entry* findEntry(uint64_t id) const;
    // Builds the entry of one row at the head of the list; false when the row is left out.
    bool addEntryForRow(const Container& row);
    // Puts the list in ascending index order (the order of the rows' OIDs).
    void sortEntries();

    void serveGet(netsnmp_handler_registration* registration, netsnmp_agent_request_info* reqinfo,
                  netsnmp_request_info* requests);
    void reserve(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests);
    void action(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests);

    const MibTableLayout<Entry> layout_;
    // The entry fields of the index columns, in index order (the iterator's hot path).
    std::vector<long Entry::*> indexFields_;
    Entry*& head_;
    RwLockTable& table_;
    HalvornAPI* api_;
    const std::string loadName_;
    const std::string handlerName_;
};

// Defines the table's callbacks and entry points under the table's name, for a table
// object reachable as TABLE (an expression) whose entry type is NAME##_entry.
#define WENDIX_MIB_TABLE_FUNCTIONS(NAME, TABLE)                                                                   \
    int NAME##_load(netsnmp_cache*, void*) { return (TABLE).load(); }                                             \
    void NAME##_free(netsnmp_cache*, void*) { (TABLE).freeAll(); }                                                \
    netsnmp_variable_list* NAME##_get_first_data_point(void** loopContext, void** dataContext,                    \
                                                       netsnmp_variable_list* indexes, netsnmp_iterator_info*) {  \
        return (TABLE).firstDataPoint(loopContext, dataContext, indexes);                                         \
    }                                                                                                             \
    netsnmp_variable_list* NAME##_get_next_data_point(void** loopContext, void** dataContext,                     \
                                                      netsnmp_variable_list* indexes, netsnmp_iterator_info*) {   \
        return (TABLE).nextDataPoint(loopContext, dataContext, indexes);                                          \
    }                                                                                                             \
    int NAME##_handler(netsnmp_mib_handler*, netsnmp_handler_registration* registration,                          \
                       netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests) {                     \
        return (TABLE).handle(registration, reqinfo, requests);                                                   \
    }                                                                                                             \
    void NAME##_removeEntry(NAME##_entry* entry) { (TABLE).removeEntry(entry); }                                  \
    void initialize_table_##NAME() {                                                                              \
        (TABLE).initialize(                                                                                       \
            {NAME##_handler, NAME##_get_first_data_point, NAME##_get_next_data_point, NAME##_load, NAME##_free}); \
    }                                                                                                             \
    void init_##NAME() { initialize_table_##NAME(); }

// The matching declarations, for the module's header.
#define WENDIX_MIB_TABLE_DECLARATIONS(NAME)                                                                     \
    void init_##NAME();                                                                                         \
    void initialize_table_##NAME();                                                                             \
    void NAME##_removeEntry(NAME##_entry* entry);                                                               \
    int NAME##_load(netsnmp_cache* cache, void* context);                                                       \
    void NAME##_free(netsnmp_cache* cache, void* context);                                                      \
    netsnmp_variable_list* NAME##_get_first_data_point(void** loopContext, void** dataContext,                  \
                                                       netsnmp_variable_list* indexes, netsnmp_iterator_info*); \
    netsnmp_variable_list* NAME##_get_next_data_point(void** loopContext, void** dataContext,                   \
                                                      netsnmp_variable_list* indexes, netsnmp_iterator_info*);  \
    int NAME##_handler(netsnmp_mib_handler* handler, netsnmp_handler_registration* registration,                \
                       netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests);

#include "MibTableImpl.h"
