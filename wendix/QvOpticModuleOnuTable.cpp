#include "QvOpticModuleOnuTable.h"

#include "TableRows.h"
#include "Uris.h"

qvOpticModuleOnuTable_entry* qvOpticModuleOnuTable_head = nullptr;
RwLockTable rwltModuleonuTableRow;

namespace {

using Entry = qvOpticModuleOnuTable_entry;
using Table = MibTable<Entry, ModuleOnuTableRow>;

// Made by the first call, the table's registration from main (initMibCode): its pointer
// to HalvornAPI is taken then, not during static initialisation.
Table& table() {
    static Table instance({"qvOpticModuleOnuTable",
                           {3, 2, 6, 14, 2},
                           Uris::kModuleOnuTable,
                           8,
                           false,
                           true,
                           {1, 2, 3},
                           {
                               {1, "qvOpticModuleOnuSlotIndex", &Entry::qvOpticModuleOnuSlotIndex, nullptr, false},
                               {2, "qvOpticModuleOnuPonIndex", &Entry::qvOpticModuleOnuPonIndex, nullptr, false},
                               {3, "qvOpticModuleOnuIndex", &Entry::qvOpticModuleOnuIndex, nullptr, false},
                               {4, "qvOpticModuleOnuTxPower", nullptr, &Entry::qvOpticModuleOnuTxPower, false},
                               {5, "qvOpticModuleOnuVcc", nullptr, &Entry::qvOpticModuleOnuVcc, false},
                               {6, "qvOpticModuleOnuTxBias", nullptr, &Entry::qvOpticModuleOnuTxBias, false},
                               {7, "qvOpticModuleOnuTemperature", nullptr, &Entry::qvOpticModuleOnuTemperature, false},
                               {8, "qvOpticModuleOnuRxPower", nullptr, &Entry::qvOpticModuleOnuRxPower, false},
                           }},
                          qvOpticModuleOnuTable_head, rwltModuleonuTableRow);
    return instance;
}

}  // namespace

WENDIX_MIB_TABLE_FUNCTIONS(qvOpticModuleOnuTable, table())

qvOpticModuleOnuTable_entry* qvOpticModuleOnuTable_createEntry(long slot, long pon, long onu) {
    return table().createEntry({slot, pon, onu});
}
