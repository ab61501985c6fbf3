#include "MibCode.h"

#include "QvCfgOltTable.h"
#include "QvCfgOnuTable.h"
#include "QvOpticModuleOltTable.h"
#include "QvOpticModuleOnuTable.h"
#include "QvSlotTable.h"

void initMibCode() {
    init_qvCfgONUTable();
    init_qvSlotTable();
    init_qvOpticModuleOnuTable();
    init_qvOpticModuleOltTable();
    init_qvCfgOLTTable();
}
