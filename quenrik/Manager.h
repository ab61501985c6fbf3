#pragma once
// Quenrik's slot manager: the eight slot workers (element i serves slot i + 1) and the
// routing of each task Halvorn sends to the slot it names.
// getInstance() is created on first use and never destroyed; tests build their own and need
// not start it (a task routed to a slot that was never started stays in its queue).
// handlerApiRequest is called by the task receiver only. Rejected tasks are printed and
// dropped here; a "slot_id" that is not a number escapes as the standard conversion error
// (std::invalid_argument / std::out_of_range), which the receiver prints as unexpected.

#include <cstddef>

#include "PONCardTask.h"
#include "Periods.h"

class APIData;

class Manager {
public:
    static constexpr int kSlots = 8;
    // The one interface name the slots are started with: no device binding, the source
    // address alone picks the interface.
    static constexpr const char* kInterface = "ethX";

    static Manager* getInstance();

    Manager();
    virtual ~Manager();
    Manager(const Manager&) = delete;
    Manager& operator=(const Manager&) = delete;

    // Before start: the periods every slot uses.
    void setPeriods(const Periods& periods);
    // Queues the two start-up reports, then starts slots 1 to 8 in order.
    void start();
    // Joins slots 1 to 8 (never returns in normal operation).
    void waitForFinish();
    // "/olt/set/all/offline" then "/onu/set/all/offline", each with the data "{}".
    void doReportAllOffline();
    // Turns the envelope into a PMTask and hands it to its slot (see the class comment).
    void handlerApiRequest(APIData* request);

    PONCardTask& getSlotForTest(std::size_t index) { return slots_[index]; }

private:
    PONCardTask slots_[kSlots];
};
