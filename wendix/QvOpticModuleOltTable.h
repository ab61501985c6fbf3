#pragma once
// qvOpticModuleOltTable (1.3.6.1.4.1.E.3.2.6.14.1): the optical readings of each OLT PON
// port ("/moduleolttable"), indexed by slot and PON port, read-only. The readings are the
// texts Halvorn stores ("-" when nothing was measured).

#include "MibTable.h"

struct qvOpticModuleOltTable_entry {
    uint64_t id;
    long qvOpticModuleOltSlotIndex;
    long qvOpticModuleOltPonIndex;
    TextValue qvOpticModuleOltTxPower;
    TextValue qvOpticModuleOltVcc;
    TextValue qvOpticModuleOltTxBias;
    TextValue qvOpticModuleOltTemperature;
    qvOpticModuleOltTable_entry* next;
};

extern qvOpticModuleOltTable_entry* qvOpticModuleOltTable_head;
extern RwLockTable rwltModuleoltTableRow;

WENDIX_MIB_TABLE_DECLARATIONS(qvOpticModuleOltTable)
qvOpticModuleOltTable_entry* qvOpticModuleOltTable_createEntry(long slot, long pon);
