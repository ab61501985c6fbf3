#include "QvOpticModuleOltTable.h"

#include "TableRows.h"
#include "Uris.h"

qvOpticModuleOltTable_entry* qvOpticModuleOltTable_head = nullptr;
RwLockTable rwltModuleoltTableRow;

namespace {

using Entry = qvOpticModuleOltTable_entry;
using Table = MibTable<Entry, ModuleOltTableRow>;

// Made by the first call, the table's registration from main (initMibCode): its pointer
// to HalvornAPI is taken then, not during static initialisation.
Table& table() {
    static Table instance({"qvOpticModuleOltTable",
                           {3, 2, 6, 14, 1},
                           Uris::kModuleOltTable,
                           6,
                           false,
                           false,
                           {1, 2},
                           {
                               {1, "qvOpticModuleOltSlotIndex", &Entry::qvOpticModuleOltSlotIndex, nullptr, false},
                               {2, "qvOpticModuleOltPonIndex", &Entry::qvOpticModuleOltPonIndex, nullptr, false},
                               {3, "qvOpticModuleOltTxPower", nullptr, &Entry::qvOpticModuleOltTxPower, false},
                               {4, "qvOpticModuleOltVcc", nullptr, &Entry::qvOpticModuleOltVcc, false},
                               {5, "qvOpticModuleOltTxBias", nullptr, &Entry::qvOpticModuleOltTxBias, false},
                               {6, "qvOpticModuleOltTemperature", nullptr, &Entry::qvOpticModuleOltTemperature, false},
                           }},
                          qvOpticModuleOltTable_head, rwltModuleoltTableRow);
    return instance;
}

}  // namespace

WENDIX_MIB_TABLE_FUNCTIONS(qvOpticModuleOltTable, table())

qvOpticModuleOltTable_entry* qvOpticModuleOltTable_createEntry(long slot, long pon) {
    return table().createEntry({slot, pon});
}
