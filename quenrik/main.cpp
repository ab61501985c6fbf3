// Quenrik: the line-card manager daemon of the management card. One worker per chassis slot
// identifies, provisions and polls the slot's OLT; tasks come from Halvorn, notifications go
// back to it. See IPCWorker.h, Manager.h, PONCardTask.h and PONCardHelper.h.

#include <cstdio>

#include "Exception.h"
#include "IPCWorker.h"
#include "Manager.h"
#include "Periods.h"

int main() {
    // Line-buffered even into a file or a pipe: every printed failure is visible at once, and
    // the lines of the 26 threads do not interleave mid-line.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    try {
        const Periods periods = Periods::fromEnvironment();
        IPCWorker* ipc = IPCWorker::getInstance();
        Manager* manager = Manager::getInstance();
        ipc->setPeriods(periods);
        manager->setPeriods(periods);
        // The channels first, so the start-up notifications wait in the queue until the
        // notifier has reached Halvorn.
        ipc->startWorker();
        manager->start();
        ipc->waitWorkerFinish();
        manager->waitForFinish();
    } catch (const Exception& e) {
        std::printf("%s\n", e.getMessage().c_str());
    } catch (...) {
        std::printf("Unknown Error at %s\n", "main");
    }
    return 0;
}
