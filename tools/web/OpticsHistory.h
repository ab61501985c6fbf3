#pragma once
// Optical history of the OLT PON ports and the ONUs, kept in memory for 24 hours.
// Every sample (one every 30 s by default) carries, per entity ("olt:<slot>/<pon>" or
// "onu:<mac>"), five measurements: transmit power, receive power (dBm), supply voltage (V),
// bias current (mA), temperature (degrees C). The last fineSlots samples are kept as they
// are; older ones survive as the mean of each run of coarseEvery samples, coarseSlots of
// them. With the defaults that is 2 hours at 30 s and 24 hours at 10 minutes (as many points
// as a chart of a day can show): 1024 ONUs cost about 4 MiB, where 24 hours at 30 s would
// cost 29 MiB alone. The rings of an entity are allocated whole when it is first seen. Values are stored as
// hundredths in 16 bits (the system reports two decimals); absent values are holes.
// An entity unseen for the whole history span is dropped. Thread-safe (one mutex).

#include <array>
#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class OpticsHistory {
public:
    static constexpr int kMetrics = 5;
    // Names of the metrics in the JSON answer, in storage order.
    static const std::array<const char*, kMetrics> kNames;
    using Values = std::array<std::string, kMetrics>;  // texts as the tables hold them

    OpticsHistory(size_t fineSlots = 240, size_t coarseEvery = 20, size_t coarseSlots = 144);

    // One sample at time t (seconds): every entity measured now, keyed as above.
    void addSample(time_t t, const std::map<std::string, Values>& sample);
    // {"t":[...],"txPower":[...],...} oldest first: the coarse means older than the oldest
    // fine sample, then the fine samples; null for holes. "" when the entity is unknown.
    std::string toJson(const std::string& key) const;
    size_t entities() const;
    size_t samples() const;
    // Bytes held by the value arrays (for the benchmark).
    size_t memoryBytes() const;

private:
    static constexpr int16_t kHole = INT16_MIN;
    struct Series {
        std::vector<int16_t> fine;    // kMetrics * fineSlots, ring aligned with fineTimes_
        std::vector<int16_t> coarse;  // kMetrics * coarseSlots, ring aligned with coarseTimes_
        std::array<int32_t, kMetrics> sum{};
        std::array<uint16_t, kMetrics> count{};
        time_t lastSeen = 0;
    };
    static int16_t encode(const std::string& text);
    void closeCoarseLockHeld(time_t t);

    const size_t fineSlots_, coarseEvery_, coarseSlots_;
    mutable std::mutex mutex_;  // guards everything below
    std::vector<time_t> fineTimes_, coarseTimes_;
    size_t fineHead_ = 0, fineCount_ = 0;  // next slot to write, slots filled
    size_t coarseHead_ = 0, coarseCount_ = 0;
    size_t inBucket_ = 0;  // samples since the last coarse mean
    std::map<std::string, Series> series_;
};
