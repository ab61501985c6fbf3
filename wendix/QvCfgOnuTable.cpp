#include "QvCfgOnuTable.h"

#include "TableRows.h"
#include "Uris.h"

qvCfgONUTable_entry* qvCfgONUTable_head = nullptr;
RwLockTable rwltOnuTableRow;

namespace {

using Entry = qvCfgONUTable_entry;
using Table = MibTable<Entry, OnuTableRow>;

// Made by the first call, the table's registration from main (initMibCode): its pointer
// to HalvornAPI is taken then, not during static initialisation.
Table& table() {
    static Table instance({"qvCfgONUTable",
                           {3, 2, 6, 3, 2},
                           Uris::kOnuTable,
                           39,
                           true,
                           true,
                           {1, 2, 3},
                           {
                               {1, "qvCfgONUSlotIndex", &Entry::qvCfgONUSlotIndex, nullptr, false},
                               {2, "qvCfgONUPonIndex", &Entry::qvCfgONUPonIndex, nullptr, false},
                               {3, "qvCfgONUIndex", &Entry::qvCfgONUIndex, nullptr, false},
                               {11, "qvCfgONUPhysicalID", nullptr, &Entry::qvCfgONUPhysicalID, false},
                               {37, "qvCfgONUName", nullptr, &Entry::qvCfgONUName, true},
                               {39, "qvCfgONULinkStatus", &Entry::qvCfgONULinkStatus, nullptr, false},
                           }},
                          qvCfgONUTable_head, rwltOnuTableRow);
    return instance;
}

}  // namespace

WENDIX_MIB_TABLE_FUNCTIONS(qvCfgONUTable, table())

qvCfgONUTable_entry* qvCfgONUTable_createEntry(long slot, long pon, long onu) {
    return table().createEntry({slot, pon, onu});
}
