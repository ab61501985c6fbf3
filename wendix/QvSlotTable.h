#pragma once
// qvSlotTable (1.3.6.1.4.1.E.3.1.9.1): the eight chassis slots ("/slottable"), indexed by
// slot; the action column qvSlotSet (5) is writable.

#include "MibTable.h"

struct qvSlotTable_entry {
    uint64_t id;
    long qvSlotIndex;
    long qvSlotStatus;
    long qvSlotCardType;
    TextValue qvSlotCardSN;
    long qvSlotSet;
    qvSlotTable_entry* next;
};

extern qvSlotTable_entry* qvSlotTable_head;
extern RwLockTable rwltSlotTableRow;

WENDIX_MIB_TABLE_DECLARATIONS(qvSlotTable)
qvSlotTable_entry* qvSlotTable_createEntry(long slot);
