// libFuzzer entry: every input is one datagram as the receive thread would get it.
#include "TkRxFuzzOne.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The receive thread never hands over more than one Ethernet frame's worth.
    if (size > 1518) size = 1518;
    tkRxFuzzOne(data, size);
    return 0;
}
