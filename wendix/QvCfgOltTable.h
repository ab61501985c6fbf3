#pragma once
// qvCfgOLTTable (1.3.6.1.4.1.E.3.2.6.3.1): one row per slot's OLT ("/olttable"), indexed
// by slot; NVS flag (21), name (24), CTC flag (36) and MTU (38) are writable. A row whose
// slot text is no number is listed under the index value -1 (sub-identifier 4294967295).

#include "MibTable.h"

struct qvCfgOLTTable_entry {
    uint64_t id;
    long qvCfgOLTSlotIndex;
    TextValue qvCfgOLTApp1Version;
    long qVCfgOLTNvsEnabled;
    TextValue qvCfgOLTMac;
    TextValue qvCfgOLTName;
    long qvCfgOLTCtcDisable;
    long qvCfgOLTMtu;
    qvCfgOLTTable_entry* next;
};

extern qvCfgOLTTable_entry* qvCfgOLTTable_head;
extern RwLockTable rwltOltTableRow;

WENDIX_MIB_TABLE_DECLARATIONS(qvCfgOLTTable)
qvCfgOLTTable_entry* qvCfgOLTTable_createEntry(long slot);
