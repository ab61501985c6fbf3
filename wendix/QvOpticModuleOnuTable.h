#pragma once
// qvOpticModuleOnuTable (1.3.6.1.4.1.E.3.2.6.14.2): the optical readings of each ONU
// ("/moduleonutable"), indexed by slot, PON port and ONU number, read-only. The readings
// are the texts Halvorn stores ("-" or "" when nothing was measured). Column 8 carries the
// ONU's received optical power, the one reading the table would otherwise lack. Rows whose
// three index texts are not all set are left out.

#include "MibTable.h"

struct qvOpticModuleOnuTable_entry {
    uint64_t id;
    long qvOpticModuleOnuSlotIndex;
    long qvOpticModuleOnuPonIndex;
    long qvOpticModuleOnuIndex;
    TextValue qvOpticModuleOnuTxPower;
    TextValue qvOpticModuleOnuVcc;
    TextValue qvOpticModuleOnuTxBias;
    TextValue qvOpticModuleOnuTemperature;
    TextValue qvOpticModuleOnuRxPower;
    qvOpticModuleOnuTable_entry* next;
};

extern qvOpticModuleOnuTable_entry* qvOpticModuleOnuTable_head;
extern RwLockTable rwltModuleonuTableRow;

WENDIX_MIB_TABLE_DECLARATIONS(qvOpticModuleOnuTable)
qvOpticModuleOnuTable_entry* qvOpticModuleOnuTable_createEntry(long slot, long pon, long onu);
