#pragma once
// Server of "/tmp/web.ipc" (own port 2030): API requests from the web interface.
// Process-wide singleton; see RequestWorker for the contract.

#include "RequestWorker.h"

class WebWorker : public RequestWorker {
public:
    static constexpr int kOwnPort = 2030;
    static WebWorker* getInstance();
    WebWorker();
};
