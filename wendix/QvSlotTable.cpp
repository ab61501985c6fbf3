#include "QvSlotTable.h"

#include "TableRows.h"
#include "Uris.h"

qvSlotTable_entry* qvSlotTable_head = nullptr;
RwLockTable rwltSlotTableRow;

namespace {

using Entry = qvSlotTable_entry;
using Table = MibTable<Entry, SlotTableRow>;

// Made by the first call, the table's registration from main (initMibCode): its pointer
// to HalvornAPI is taken then, not during static initialisation.
Table& table() {
    static Table instance({"qvSlotTable",
                           {3, 1, 9, 1},
                           Uris::kSlotTable,
                           5,
                           true,
                           false,
                           {1},
                           {
                               {1, "qvSlotIndex", &Entry::qvSlotIndex, nullptr, false},
                               {2, "qvSlotStatus", &Entry::qvSlotStatus, nullptr, false},
                               {3, "qvSlotCardType", &Entry::qvSlotCardType, nullptr, false},
                               {4, "qvSlotCardSN", nullptr, &Entry::qvSlotCardSN, false},
                               {5, "qvSlotSet", &Entry::qvSlotSet, nullptr, true},
                           }},
                          qvSlotTable_head, rwltSlotTableRow);
    return instance;
}

}  // namespace

WENDIX_MIB_TABLE_FUNCTIONS(qvSlotTable, table())

qvSlotTable_entry* qvSlotTable_createEntry(long slot) { return table().createEntry({slot}); }
