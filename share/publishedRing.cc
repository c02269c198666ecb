#include "share/publishedRing.h"

void PublishedRing::add(std::span<const FarmLogoff> published, Clock::time_point now) {
    while (!entries_.empty() && now - entries_.front().published > keep_) {
        entries_.pop_front();
    }
    for (const FarmLogoff& logoff : published) {
        if (entries_.size() == capacity_) {
            entries_.pop_front();
            ++overflowed_;
        }
        entries_.push_back({now, logoff});
    }
}

std::vector<FarmLogoff> PublishedRing::takeForRepublishing() const {
    std::vector<FarmLogoff> logoffs;
    logoffs.reserve(entries_.size());
    for (const Entry& entry : entries_) {
        logoffs.push_back(entry.logoff);
    }
    return logoffs;
}
