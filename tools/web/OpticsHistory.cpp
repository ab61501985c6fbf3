#include "OpticsHistory.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "WebJson.h"

const std::array<const char*, OpticsHistory::kMetrics> OpticsHistory::kNames = {"txPower", "rxPower", "voltage", "bias",
                                                                                "temperature"};

OpticsHistory::OpticsHistory(size_t fineSlots, size_t coarseEvery, size_t coarseSlots)
    : fineSlots_(std::max<size_t>(fineSlots, 1)),
      coarseEvery_(std::max<size_t>(coarseEvery, 1)),
      coarseSlots_(std::max<size_t>(coarseSlots, 1)),
      fineTimes_(fineSlots_),
      coarseTimes_(coarseSlots_) {}

int16_t OpticsHistory::encode(const std::string& text) {
    if (text.empty()) return kHole;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !std::isfinite(v)) return kHole;
    const double h = std::round(v * 100.0);
    if (h <= INT16_MIN || h > INT16_MAX) return kHole;
    return static_cast<int16_t>(h);
}

void OpticsHistory::addSample(time_t t, const std::map<std::string, Values>& sample) {
    std::lock_guard<std::mutex> l(mutex_);
    const size_t slot = fineHead_;
    fineTimes_[slot] = t;
    for (auto& [key, values] : sample) {
        auto it = series_.find(key);
        if (it == series_.end()) {
            Series s;
            s.fine.assign(kMetrics * fineSlots_, kHole);
            s.coarse.assign(kMetrics * coarseSlots_, kHole);
            it = series_.emplace(key, std::move(s)).first;
        }
        Series& s = it->second;
        s.lastSeen = t;
        for (int m = 0; m < kMetrics; ++m) {
            const int16_t v = encode(values[m]);
            s.fine[m * fineSlots_ + slot] = v;
            if (v != kHole) {
                s.sum[m] += v;
                s.count[m]++;
            }
        }
    }
    // Entities missing from this sample get a hole in this slot.
    for (auto& [key, s] : series_)
        if (s.lastSeen != t)
            for (int m = 0; m < kMetrics; ++m) s.fine[m * fineSlots_ + slot] = kHole;
    fineHead_ = (fineHead_ + 1) % fineSlots_;
    fineCount_ = std::min(fineCount_ + 1, fineSlots_);
    if (++inBucket_ == coarseEvery_) closeCoarseLockHeld(t);
}

void OpticsHistory::closeCoarseLockHeld(time_t t) {
    inBucket_ = 0;
    const size_t slot = coarseHead_;
    coarseTimes_[slot] = t;
    for (auto& [key, s] : series_) {
        for (int m = 0; m < kMetrics; ++m) {
            s.coarse[m * coarseSlots_ + slot] =
                s.count[m] ? static_cast<int16_t>(std::lround(static_cast<double>(s.sum[m]) / s.count[m])) : kHole;
            s.sum[m] = 0;
            s.count[m] = 0;
        }
    }
    coarseHead_ = (coarseHead_ + 1) % coarseSlots_;
    coarseCount_ = std::min(coarseCount_ + 1, coarseSlots_);
    // Once the rings are full, an entity last seen before the oldest point still held has
    // nothing left to show: forget it (ONUs that were removed or moved away).
    if (coarseCount_ == coarseSlots_) {
        const time_t oldest = coarseTimes_[coarseHead_];
        for (auto it = series_.begin(); it != series_.end();)
            it = it->second.lastSeen < oldest ? series_.erase(it) : std::next(it);
    }
}

std::string OpticsHistory::toJson(const std::string& key) const {
    std::lock_guard<std::mutex> l(mutex_);
    auto it = series_.find(key);
    if (it == series_.end()) return "";
    const Series& s = it->second;
    // Indexes, oldest first, into the two rings: coarse means older than the oldest fine sample.
    const size_t fineFirst = (fineHead_ + fineSlots_ - fineCount_) % fineSlots_;
    const time_t oldestFine = fineCount_ ? fineTimes_[fineFirst] : 0;
    std::vector<std::pair<bool, size_t>> points;  // (coarse?, slot)
    const size_t coarseFirst = (coarseHead_ + coarseSlots_ - coarseCount_) % coarseSlots_;
    for (size_t i = 0; i < coarseCount_; ++i) {
        const size_t slot = (coarseFirst + i) % coarseSlots_;
        if (fineCount_ && coarseTimes_[slot] >= oldestFine) break;
        points.emplace_back(true, slot);
    }
    for (size_t i = 0; i < fineCount_; ++i) points.emplace_back(false, (fineFirst + i) % fineSlots_);

    std::string out = "{\"t\":[";
    for (size_t i = 0; i < points.size(); ++i) {
        if (i) out += ',';
        out += std::to_string(
            static_cast<long long>(points[i].first ? coarseTimes_[points[i].second] : fineTimes_[points[i].second]));
    }
    out += ']';
    for (int m = 0; m < kMetrics; ++m) {
        out += ",\"";
        out += kNames[m];
        out += "\":[";
        for (size_t i = 0; i < points.size(); ++i) {
            if (i) out += ',';
            const int16_t v = points[i].first ? s.coarse[m * coarseSlots_ + points[i].second]
                                              : s.fine[m * fineSlots_ + points[i].second];
            if (v == kHole) {
                out += "null";
            } else {
                char buf[16];
                std::snprintf(buf, sizeof(buf), "%.2f", v / 100.0);
                out += buf;
            }
        }
        out += ']';
    }
    out += '}';
    return out;
}

size_t OpticsHistory::entities() const {
    std::lock_guard<std::mutex> l(mutex_);
    return series_.size();
}

size_t OpticsHistory::samples() const {
    std::lock_guard<std::mutex> l(mutex_);
    return fineCount_;
}

size_t OpticsHistory::memoryBytes() const {
    std::lock_guard<std::mutex> l(mutex_);
    size_t n = (fineTimes_.size() + coarseTimes_.size()) * sizeof(time_t);
    for (auto& [key, s] : series_) n += key.capacity() + sizeof(Series) + (s.fine.size() + s.coarse.size()) * 2;
    return n;
}
