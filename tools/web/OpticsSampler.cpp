#include "OpticsSampler.h"

#include <malloc.h>

#include <algorithm>
#include <cctype>
#include <chrono>

#include "JsonHelper.h"
#include "Uris.h"
#include "WebJson.h"

OpticsSampler::OpticsSampler(HalvornLink& link, OpticsHistory& history, int periodSeconds)
    : link_(link), history_(history), periodSeconds_(std::max(periodSeconds, 1)) {}

OpticsSampler::~OpticsSampler() { stop(); }

void OpticsSampler::start() {
    if (thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> l(mutex_);
        stop_ = false;
    }
    thread_ = std::thread([this] { run(); });
}

void OpticsSampler::stop() {
    {
        std::lock_guard<std::mutex> l(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void OpticsSampler::run() {
    std::unique_lock<std::mutex> l(mutex_);
    while (!stop_) {
        l.unlock();
        sampleOnce(std::time(nullptr));
        // A pass parses both module tables (a few MiB of small blocks with 1024 ONUs):
        // give the freed pages back instead of keeping them until the next pass.
        malloc_trim(0);
        l.lock();
        wake_.wait_for(l, std::chrono::seconds(periodSeconds_), [this] { return stop_; });
    }
}

std::map<std::string, OpticsHistory::Values> OpticsSampler::parse(const std::string& oltModules,
                                                                  const std::string& onuModules) {
    std::map<std::string, OpticsHistory::Values> sample;
    JsonPtr olt(cJSON_Parse(oltModules.c_str()));
    const cJSON* row = nullptr;
    cJSON_ArrayForEach(row, olt.get()) {
        const std::string slot = webjson::stringMember(row, "qvOpticModuleOltSlotIndex");
        const std::string pon = webjson::stringMember(row, "qvOpticModuleOltPonIndex");
        // The module OLT table numbers the PON ports 1 and 2; the pages call them 0 and 1.
        if (slot.empty() || (pon != "1" && pon != "2")) continue;
        sample["olt:" + slot + "/" + std::string(1, static_cast<char>(pon[0] - 1))] = {
            webjson::stringMember(row, "qvOpticModuleOltTxPower"), "",
            webjson::stringMember(row, "qvOpticModuleOltVcc"), webjson::stringMember(row, "qvOpticModuleOltTxBias"),
            webjson::stringMember(row, "qvOpticModuleOltTemperature")};
    }
    JsonPtr onu(cJSON_Parse(onuModules.c_str()));
    cJSON_ArrayForEach(row, onu.get()) {
        std::string mac = webjson::stringMember(row, "qvOpticModuleOnuPhysicalID");
        if (mac.empty()) continue;
        std::transform(mac.begin(), mac.end(), mac.begin(), [](unsigned char c) { return std::tolower(c); });
        sample["onu:" + mac] = {webjson::stringMember(row, "qvOpticModuleOnuTxPower"),
                                webjson::stringMember(row, "qvOpticModuleOnuRxPower"),
                                webjson::stringMember(row, "qvOpticModuleOnuVcc"),
                                webjson::stringMember(row, "qvOpticModuleOnuTxBias"),
                                webjson::stringMember(row, "qvOpticModuleOnuTemperature")};
    }
    return sample;
}

bool OpticsSampler::sampleOnce(time_t now) {
    try {
        const ApiClient::Response olt = link_.get(Uris::kModuleOltTable);
        const ApiClient::Response onu = link_.get(Uris::kModuleOnuTable);
        if (!olt.err.empty() || !onu.err.empty()) return false;
        history_.addSample(now, parse(olt.data, onu.data));
        return true;
    } catch (const HalvornLink::Unreachable&) {
        return false;
    }
}
