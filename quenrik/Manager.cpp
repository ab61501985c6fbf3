#include "Manager.h"

#include <cstdio>
#include <memory>
#include <string>

#include "APIData.h"
#include "Exception.h"
#include "IPCWorker.h"
#include "PMTask.h"
#include "PrintException.h"
#include "Uris.h"

Manager* Manager::getInstance() {
    // Never destroyed: the slot threads run until the process ends.
    static Manager* instance = new Manager();
    return instance;
}

Manager::Manager() = default;

Manager::~Manager() = default;

void Manager::setPeriods(const Periods& periods) {
    for (auto& slot : slots_) slot.setPeriods(periods);
}

void Manager::start() {
    doReportAllOffline();
    for (int i = 0; i < kSlots; ++i) slots_[i].start(kInterface, std::to_string(i + 1));
}

void Manager::waitForFinish() {
    for (auto& slot : slots_) slot.waitFinish();
}

void Manager::doReportAllOffline() {
    try {
        IPCWorker* notifier = IPCWorker::getInstance();
        notifier->addNotification(Uris::kOltSetAllOffline, "{}");
        notifier->addNotification(Uris::kOnuSetAllOffline, "{}");
    } catch (const Exception& e) {
        std::printf("%s\n", e.getMessage().c_str());
    } catch (...) {
        std::printf("Unknown Error at %s\n", __func__);
    }
}

void Manager::handlerApiRequest(APIData* request) {
    auto task = std::make_unique<PMTask>();
    try {
        task->parseTask(*request);
        const std::string name = task->getTask();
        if (name.rfind(Uris::kSlotOnuPrefix, 0) == 0 && task->getDataValue("mac_address").empty())
            throw Exception("MAC Address not set for task /slot/onu", __func__, __LINE__);
        const std::string slotText = task->getDataValue("slot_id");
        // A text that is not a number fails here with the standard conversion error, which
        // leaves this function (the receiver prints it); leading digits are taken as the number.
        const long index = std::stol(slotText) - 1;
        if (index < 0 || index >= kSlots)
            throw Exception("Slot ID(" + slotText + ") is out of range", __func__, __LINE__);
        slots_[index].addTask(task.release());
    } catch (const Exception& e) {
        printException(__func__, __LINE__, e);
    }
}
