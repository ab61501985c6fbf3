#include "QvCfgOltTable.h"

#include "TableRows.h"
#include "Uris.h"

qvCfgOLTTable_entry* qvCfgOLTTable_head = nullptr;
RwLockTable rwltOltTableRow;

namespace {

using Entry = qvCfgOLTTable_entry;
using Table = MibTable<Entry, OltTableRow>;

// Made by the first call, the table's registration from main (initMibCode): its pointer
// to HalvornAPI is taken then, not during static initialisation.
Table& table() {
    static Table instance({"qvCfgOLTTable",
                           {3, 2, 6, 3, 1},
                           Uris::kOltTable,
                           38,
                           true,
                           false,
                           {1},
                           {
                               {1, "qvCfgOLTSlotIndex", &Entry::qvCfgOLTSlotIndex, nullptr, false},
                               {19, "qvCfgOLTApp1Version", nullptr, &Entry::qvCfgOLTApp1Version, false},
                               {21, "qVCfgOLTNvsEnabled", &Entry::qVCfgOLTNvsEnabled, nullptr, true},
                               {22, "qvCfgOLTMac", nullptr, &Entry::qvCfgOLTMac, false},
                               {24, "qvCfgOLTName", nullptr, &Entry::qvCfgOLTName, true},
                               {36, "qvCfgOLTCtcDisable", &Entry::qvCfgOLTCtcDisable, nullptr, true},
                               {38, "qvCfgOLTMtu", &Entry::qvCfgOLTMtu, nullptr, true},
                           }},
                          qvCfgOLTTable_head, rwltOltTableRow);
    return instance;
}

}  // namespace

WENDIX_MIB_TABLE_FUNCTIONS(qvCfgOLTTable, table())

qvCfgOLTTable_entry* qvCfgOLTTable_createEntry(long slot) { return table().createEntry({slot}); }
