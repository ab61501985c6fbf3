#pragma once
// qvCfgONUTable (1.3.6.1.4.1.E.3.2.6.3.2): one row per ONU known to Halvorn ("/onutable"),
// indexed by slot, PON port and ONU number; the ONU's name (column 37) is writable. Rows
// whose three index texts are not all set (an ONU not yet placed) are left out.

#include "MibTable.h"

struct qvCfgONUTable_entry {
    uint64_t id;
    long qvCfgONUSlotIndex;
    long qvCfgONUPonIndex;
    long qvCfgONUIndex;
    TextValue qvCfgONUPhysicalID;
    TextValue qvCfgONUName;
    long qvCfgONULinkStatus;
    qvCfgONUTable_entry* next;
};

extern qvCfgONUTable_entry* qvCfgONUTable_head;
extern RwLockTable rwltOnuTableRow;

WENDIX_MIB_TABLE_DECLARATIONS(qvCfgONUTable)
qvCfgONUTable_entry* qvCfgONUTable_createEntry(long slot, long pon, long onu);
