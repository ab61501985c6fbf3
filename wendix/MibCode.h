#pragma once
// The agent's MIB code: the five tables, registered in this order (which also fixes their
// cache time-outs, 120 s + 10 s per table before them). Called once from main, after
// HalvornAPI::getInstance(); each table is made at its registration.

void initMibCode();
