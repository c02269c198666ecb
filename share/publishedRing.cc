#include "share/publishedRing.h"

namespace {

// The ring exportCurrent() reads, guarded by its mutex, which its
// destructor takes too.
std::mutex currentMutex;
PublishedRing* current = nullptr;

}  // namespace

PublishedRing::PublishedRing(std::size_t capacity, std::chrono::seconds keep)
    : capacity_(capacity), keep_(keep) {
    std::lock_guard<std::mutex> lock(currentMutex);
    if (current == nullptr) {
        current = this;
    }
}

PublishedRing::~PublishedRing() {
    std::lock_guard<std::mutex> lock(currentMutex);
    if (current == this) {
        current = nullptr;
    }
}

std::vector<FarmLogoff> PublishedRing::exportCurrent() {
    std::lock_guard<std::mutex> lock(currentMutex);
    std::vector<FarmLogoff> logoffs;
    if (current != nullptr) {
        std::lock_guard<std::mutex> entries(current->exportMutex_);
        logoffs.reserve(current->entries_.size());
        for (const Entry& entry : current->entries_) {
            logoffs.push_back(entry.logoff);
        }
    }
    return logoffs;
}

void PublishedRing::add(std::span<const FarmLogoff> published, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(exportMutex_);
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
    std::lock_guard<std::mutex> lock(exportMutex_);
    std::vector<FarmLogoff> logoffs;
    logoffs.reserve(entries_.size());
    for (const Entry& entry : entries_) {
        logoffs.push_back(entry.logoff);
    }
    return logoffs;
}
