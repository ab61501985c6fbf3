// Set-up, the exchange with the OLT, and the reports to Halvorn.
#include "PONCardHelper.h"

#include <cstdio>

#include "APIData.h"
#include "Exception.h"
#include "IPCWorker.h"
#include "OnuLink.h"
#include "SocketHelper.h"
#include "TKMessage.h"
#include "Uris.h"

PONCardHelper::PONCardHelper() { alarmReport_.clearList(kAlarmList); }

PONCardHelper::~PONCardHelper() { clear(); }

void PONCardHelper::start(const std::string& interface, const std::string& slot) {
    start(*SocketHelper::getInstance(interface), slot);
}

void PONCardHelper::start(SocketHelper& helper, const std::string& slot) {
    slot_ = slot;
    socket_.start(helper, slot);
    card_.setSlotId(slot);
}

void PONCardHelper::setPeriods(const Periods& periods) {
    socket_.setResponseTimeout(periods.response);
    response_.setTolerantPause(periods.tolerantPause);
}

void PONCardHelper::setOltIpAddress(const std::string& ip) { socket_.setClientIpAddress(ip); }

void PONCardHelper::clear() {
    request_.clear();
    response_.clear();
}

void PONCardHelper::throwIfAbandoned() const {
    if (abandoned_.load())
        throw Exception("OLT of slot " + slot_ + " does not answer: exchange abandoned", __func__, __LINE__);
}

void PONCardHelper::sendRequestMessage() {
    throwIfAbandoned();
    socket_.sendRequestMessage(&request_, &response_);
    response_.parseAllMessages();
}

void PONCardHelper::sendCommand() {
    throwIfAbandoned();
    socket_.sendRequestMessage(&request_, &response_);
    // These replies carry no data and the decoder table has no entry for them, so a plain
    // parse would call every successful reset "not handled". Their result code is what tells
    // whether the OLT took the command.
    for (size_t i = 0; i < response_.getMessagesSize(); ++i) response_.parseCheckResultOk(*response_.getMessageAt(i));
}

Container& PONCardHelper::firstAnswer(const char* operation) {
    Container* first = response_.getContainer(0);
    if (first == nullptr) throw Exception("Container can't be null", operation, __LINE__);
    return *first;
}

bool PONCardHelper::runOperation(const char* name, const std::function<bool()>& body) {
    try {
        return body();
    } catch (const Exception& e) {
        // Once the ping loop has declared the OLT down, every remaining step fails by design;
        // the outage is reported by what follows, not by a line per step.
        if (!abandoned_.load()) std::printf("%s\n", e.what());
    } catch (...) {
        std::printf("Unknown Error at %s\n", name);
    }
    return false;
}

bool PONCardHelper::sendOne(const char* name, const std::function<void()>& add) {
    return runOperation(name, [&] {
        clear();
        add();
        sendRequestMessage();
        return true;
    });
}

bool PONCardHelper::commandOne(const char* name, const std::function<void()>& add) {
    return runOperation(name, [&] {
        clear();
        add();
        sendCommand();
        return true;
    });
}

bool PONCardHelper::hasOltMacAddress() const { return !card_.getMacAddress().empty(); }

void PONCardHelper::notify(const std::string& uri, const std::string& data) {
    IPCWorker* notifier = notifier_ != nullptr ? notifier_ : IPCWorker::getInstance();
    notifier->addNotification(uri, data);
}

void PONCardHelper::doReportAllOnuOffline() {
    runOperation(__func__, [&] {
        // Only the slot number, which is always decimal digits.
        notify(Uris::kOnuSetAllOffline, "{\"slot_id\":\"" + slot_ + "\"}");
        return true;
    });
}

void PONCardHelper::doReportOLTModule() {
    runOperation(__func__, [&] {
        if (card_.getStatusReported()) return true;
        // Marked first: a status the ping loop changes while the record is being sent clears
        // the mark again and is sent at the next pass instead of being lost.
        card_.setStatusReported(true);
        notify(Uris::kOltNewReport, card_.getJsonData());
        return true;
    });
}

void PONCardHelper::doRequestConfig() {
    runOperation(__func__, [&] {
        notify(Uris::kOltGetConfig, card_.getJsonData());
        return true;
    });
}

void PONCardHelper::setOLTOnlineStatus(bool online) {
    if (card_.getOnlineStatus() == online) return;
    card_.setOnlineStatus(online);
    card_.setStatusReported(false);
}

void PONCardHelper::doReportOnu(OnuLink* link) {
    runOperation(__func__, [&] {
        notify(Uris::kOnuNew, link->getJsonData());
        link->setStatusReported(true);
        return true;
    });
}
