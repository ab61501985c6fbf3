#pragma once
// Server of "/tmp/snmp.ipc" (own port 2020): API requests from the SNMP agent.
// Process-wide singleton; see RequestWorker for the contract.

#include "RequestWorker.h"

class SNMPWorker : public RequestWorker {
public:
    static constexpr int kOwnPort = 2020;
    static SNMPWorker* getInstance();
    SNMPWorker();
};
