#pragma once
// One chassis slot: its PONCardHelper and the three threads that drive it.
//   main loop  walks the OLT through identification, the NVS check and provisioning, then
//              polls it (alarms, ONU links, optics, a configuration recheck) once a pass;
//   task loop  runs the tasks Halvorn sends for the slot, one at a time, in arrival order;
//   ping loop  checks that the OLT answers a ping and returns the slot to identification
//              after three failures in a row (once per outage).
//
// Locks: slotMutex_ serialises every conversation with the OLT (held by the main loop for a
// whole pass, by the task loop for one task, by the ping loop only around setInitialState);
// the task queue has its own lock (BlockingQueue), never held with another; addressMutex_
// guards the two addresses, which the task loop writes under the slot lock and the ping
// loop copies without it. Order: slotMutex_, then addressMutex_ (held for a copy only). start() runs the threads until
// the process ends; a PONCardTask that was never started (tests) can be destroyed, one that was must not be.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "BlockingQueue.h"
#include "PONCardHelper.h"
#include "Periods.h"

class PMTask;
class SocketHelper;

class PONCardTask {
public:
    PONCardTask();
    virtual ~PONCardTask();
    PONCardTask(const PONCardTask&) = delete;
    PONCardTask& operator=(const PONCardTask&) = delete;

    // Before start.
    void setPeriods(const Periods& periods);
    // Keeps interface and slot number, gets the interface's SocketHelper, starts the helper's
    // socket, then the main, task and ping loops.
    void start(const std::string& interface, const std::string& slot);
    // Takes ownership and queues the task for the task loop.
    void addTask(PMTask* task);
    // The OLT's new address: given to the socket, kept, and the slot back to identification.
    // Failures are printed (and change nothing).
    void setOltIpAddress(const std::string& ip);
    // Whether the OLT answers a ping (see pingLoop); offline without addresses.
    bool checkPONCardOnline();
    // Joins the main, task and ping loops.
    void waitFinish();

    // Runs one task as the task loop does (taking the slot lock), on the caller's thread.
    void runTask(const PMTask& task);

    std::string getOltIpAddress() const;
    std::string getSourceIpAddress() const;
    PONCardHelper& getHelperForTest() { return helper_; }
    size_t getTaskQueueSizeForTest();
    void setSlotForTest(const std::string& slot) { slot_ = slot; }

private:
    void mainLoop();
    void taskLoop();
    void pingLoop();
    // One main-loop pass, under the slot lock (the two waits of the configuration phases
    // included).
    void runPassLocked(int& recheckCounter, int& opticsCounter);
    // The polling part of a pass (the OLT is in CTC mode or the CTC query failed).
    void pollLocked(int& recheckCounter, int& opticsCounter);
    void runConfigTaskLocked(const PMTask& task);

    PONCardHelper helper_;
    Periods periods_;
    std::string slot_;                      // set by start
    std::string interface_;                 // set by start
    SocketHelper* socketHelper_ = nullptr;  // set by start; not owned

    std::mutex slotMutex_;

    BlockingQueue<PMTask> tasks_;  // never stopped: the task loop runs until the process ends

    mutable std::mutex addressMutex_;
    std::string oltIpAddress_;     // guarded by addressMutex_
    std::string sourceIpAddress_;  // guarded by addressMutex_

    std::thread mainThread_;
    std::thread taskThread_;
    std::thread pingThread_;
};
