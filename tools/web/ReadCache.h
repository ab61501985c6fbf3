#pragma once
// Halvorn's answers to the server's whole-table reads (and answers built from them, such as
// the chassis summary), shared by every request for at most maxAge: the pages of every open
// browser poll the same tables every few seconds, and each read of the ONU table costs
// Halvorn an exchange and us a copy and a parse of a few hundred kilobytes. One fetch per key
// at a time: requests that find a key being fetched wait for that fetch. Only answers without
// an error are kept; a fetch that throws (Halvorn unreachable) keeps nothing and the next
// request fetches again. invalidate() after every change this server makes, so a change is
// read back at once. Thread-safe (one mutex; never held while fetching).

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "ApiClient.h"

class ReadCache {
public:
    using Clock = std::chrono::steady_clock;
    using Answer = std::shared_ptr<const ApiClient::Response>;
    using Fetch = std::function<ApiClient::Response()>;

    explicit ReadCache(std::chrono::milliseconds maxAge) : maxAge_(maxAge) {}

    // The answer of key no older than maxAge: kept, or fetched now. Throws what fetch throws.
    Answer get(const std::string& key, const Fetch& fetch);
    void invalidate();

private:
    struct Entry {
        Answer answer;
        Clock::time_point at;
        unsigned long generation = 0;
        bool fetching = false;
    };
    const std::chrono::milliseconds maxAge_;
    std::mutex mutex_;  // guards the two below
    std::condition_variable fetched_;
    std::map<std::string, Entry> entries_;
    unsigned long generation_ = 1;  // bumped by invalidate(): older answers are stale
};
