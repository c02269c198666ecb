#include "state/warmRestart.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>

#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCacheExport.h"
#include "crypto/hmacSha1.h"
#include "crypto/logoffCookiePipe_crypt.h"
#include "crypto/secureMemory.h"
#include "diag/operatorLine.h"
#include "state/stateFile.h"

namespace {

// Separates the state key from every other use of the host key.
constexpr char kStateKeyLabel[] = "VOKLogoffCookieService state file key";
// The farm queue's file has the state file's layout under a key of its own:
// neither is ever taken for the other.
constexpr char kFarmQueueKeyLabel[] = "VOKLogoffCookieService farm queue file key";

// A key of this host's own files, derived from the host key under `label`;
// nullptr when the host key seed has not been set.
std::unique_ptr<StateKey> derivedHostKey(const char* label, std::size_t length) {
    std::uint8_t pipeKey[PIPE_KEY_SIZE];
    if (getHashedKey(pipeKey) != 0) {
        return nullptr;
    }
    HmacSha1Key hostKey;
    std::uint8_t stateKey[kStateKeySize];
    hmacSha1KeyInit(&hostKey, pipeKey, sizeof pipeKey);
    hmacSha1Mac(&hostKey, label, length, stateKey);
    auto key = std::make_unique<StateKey>(stateKey);
    secureZero(pipeKey, sizeof pipeKey);
    hmacSha1KeyWipe(&hostKey);
    secureZero(stateKey, sizeof stateKey);
    return key;
}

// Feeds the cache's export to an encoder, made once the cache has given the
// start time and salt that belong with its cookies.
class CacheToEncoder : public LogoffCookieCacheVisitor {
  public:
    CacheToEncoder(const StateKey& key, StateSink& sink, StateHeader& header)
        : key_(key), sink_(sink), header_(header) {}

    void start(std::int32_t startTime, const std::uint8_t* salt) override {
        header_.cacheStartTime = startTime;
        std::memcpy(header_.salt, salt, sizeof header_.salt);
        encoder_.emplace(key_, sink_, header_);
    }
    void cookies(std::uint32_t count) override {
        cookies_ = count;
        encoder_->cookies(count);
    }
    void cookie(const LogoffCookieDigest& digest, const CookieTimes& times) override {
        encoder_->cookie(digest, times);
    }
    void farmLogoffs(std::uint32_t count) override {
        farmLogoffs_ = count;
        encoder_->farmLogoffs(count);
    }
    void farmLogoff(const FarmLogoff& logoff) override { encoder_->farmLogoff(logoff); }

    StateEncoder& encoder() { return *encoder_; }
    std::uint32_t cookieCount() const { return cookies_; }
    std::uint32_t farmLogoffCount() const { return farmLogoffs_; }

  private:
    const StateKey& key_;
    StateSink& sink_;
    StateHeader& header_;
    std::optional<StateEncoder> encoder_;
    std::uint32_t cookies_ = 0;
    std::uint32_t farmLogoffs_ = 0;
};

// Why a file that was read cannot be used, or empty when it can.
std::string refusal(const StateConfig& config, StateCheck check, std::uint32_t version,
                    std::int32_t stopTime, std::int32_t now) {
    const char* path = config.path.c_str();
    char reason[512];
    switch (check) {
        case StateCheck::OtherVersion:
            std::snprintf(reason, sizeof reason,
                          "state file %s was written by another version (format %u, this one "
                          "reads %u)",
                          path, version, kStateFormatVersion);
            return reason;
        case StateCheck::DoesNotVerify:
            std::snprintf(reason, sizeof reason, "state file %s does not verify", path);
            return reason;
        case StateCheck::Valid:
            break;
    }
    // In 64 bits: a stop time far from now must not wrap into the window.
    std::int64_t age = std::int64_t{now} - stopTime;
    if (age < 0) {
        // The clock went back since the stop: how long the service was away
        // is unknown.
        std::snprintf(reason, sizeof reason, "state file %s was written %lld seconds from now",
                      path, static_cast<long long>(-age));
        return reason;
    }
    if (age > config.maxAgeSeconds) {
        std::snprintf(reason, sizeof reason,
                      "state file %s is too old: %lld seconds, VOKLOGOFFSTATEMAXAGE is %d", path,
                      static_cast<long long>(age), static_cast<int>(config.maxAgeSeconds));
        return reason;
    }
    return {};
}

// Each cookie and farm logoff of the file into the cache, then its start
// time and salt: should memory run out halfway, the cache keeps the salt it
// drew, and what was restored can match nothing.
void restoreCache(const StateView& view, StateLoad& load) {
    {
        LogoffCookieCacheRestore restore(view.cookieCount());
        LogoffCookieDigest digest;
        CookieTimes times;
        for (std::uint32_t i = 0; i < view.cookieCount(); ++i) {
            view.cookie(i, digest, times);
            restore.cookie(digest, times);
        }
        FarmLogoff logoff;
        for (std::uint32_t i = 0; i < view.farmLogoffCount(); ++i) {
            view.farmLogoff(i, logoff);
            restore.farmLogoff(logoff);
        }
    }
    logoffCookieCache_restoreStart(view.header().cacheStartTime, view.header().salt);
    load.cookies = view.cookieCount();
    load.farmLogoffs = view.farmLogoffCount();
    load.position = view.header().position;
}

}  // namespace

std::vector<FarmLogoff> stateQueuedLogoffs(const StateView& view) {
    std::vector<FarmLogoff> queued(view.queuedCount());
    for (std::uint32_t i = 0; i < view.queuedCount(); ++i) {
        view.queuedLogoff(i, queued[i]);
    }
    return queued;
}

std::unique_ptr<StateKey> hostStateKey() {
    return derivedHostKey(kStateKeyLabel, sizeof kStateKeyLabel - 1);
}

std::unique_ptr<StateKey> hostFarmQueueKey() {
    return derivedHostKey(kFarmQueueKeyLabel, sizeof kFarmQueueKeyLabel - 1);
}

StateLoad logoffCookieState_load(const StateConfig& config, const StateKey& key, std::int32_t now) {
    StateLoad load;
    const char* path = config.path.c_str();
    std::vector<std::uint8_t> bytes;
    std::string reason;
    if (!checkStateDirectory(config.path, reason)) {
        traceAndSay("started cold: %s", reason.c_str());
        return load;
    }
    switch (readStateFile(config.path, bytes, reason)) {
        case StateFileRead::Missing:
            traceAndSay("started cold: no state file %s", path);
            return load;
        case StateFileRead::Refused:
            traceAndSay("started cold: %s", reason.c_str());
            return load;
        case StateFileRead::Unreadable: {
            std::string asideReason;
            setStateFileAside(config.path, asideReason);
            traceAndSay("started cold: %s", reason.c_str());
            return load;
        }
        case StateFileRead::Read:
            break;
    }

    StateView view;
    std::uint32_t version = 0;
    StateCheck check = checkStateFile(key, bytes.data(), bytes.size(), view, version);
    reason = refusal(config, check, version, view.header().stopTime, now);
    std::string asideReason;
    // Set aside before the cache takes anything from it: a crash of this run
    // must leave no file that the next start could take again.
    if (!setStateFileAside(config.path, asideReason) && reason.empty()) {
        reason = "state file cannot be set aside: " + asideReason;
    }
    if (reason.empty()) {
        try {
            restoreCache(view, load);
        } catch (const std::exception& failure) {
            reason = std::string("state file ") + path + " cannot be restored: " + failure.what();
            load = StateLoad();
        }
    }
    // The logoffs the stop queued for the farm go out whatever the file's
    // age: the receivers drop what has expired, and a logoff published late
    // never weakens a cache.
    std::uint32_t discarded = 0;
    if (check == StateCheck::Valid) {
        try {
            load.queued = stateQueuedLogoffs(view);
        } catch (const std::exception&) {
            discarded = view.queuedCount();
        }
    } else if (!unverifiedQueuedCount(bytes.data(), bytes.size(), discarded)) {
        discarded = 0;
    }
    secureZero(bytes.data(), bytes.size());
    if (!reason.empty()) {
        if (discarded > 0) {
            traceAndSay("started cold: %s; %u farm logoffs discarded", reason.c_str(), discarded);
        } else {
            traceAndSay("started cold: %s", reason.c_str());
        }
        return load;
    }
    load.warm = true;
    traceAndSay("restarted warm: %u cookies, %u farm logoffs kept", load.cookies, load.farmLogoffs);
    return load;
}

bool logoffCookieState_save(const StateConfig& config, const StateKey& key, std::int32_t now,
                            const StatePosition& position, const std::vector<FarmLogoff>& queued) {
    auto began = std::chrono::steady_clock::now();
    StateHeader header;
    header.stopTime = now;
    header.position = position;

    StateFileWriter writer(config.path);
    bool written = false;
    std::uint32_t cookies = 0;
    std::uint32_t farmLogoffs = 0;
    if (writer.open()) {
        // The start time and salt come with the export, under its hold.
        CacheToEncoder visitor(key, writer, header);
        logoffCookieCache_export(visitor);
        StateEncoder& encoder = visitor.encoder();
        encoder.queued(static_cast<std::uint32_t>(queued.size()));
        for (const FarmLogoff& logoff : queued) {
            encoder.queuedLogoff(logoff);
        }
        written = encoder.finish() && writer.commit();
        cookies = visitor.cookieCount();
        farmLogoffs = visitor.farmLogoffCount();
    }
    secureZero(header.salt, sizeof header.salt);
    if (!written) {
        traceAndSay("state not saved: %s", writer.error().empty() ? "the state could not be encoded"
                                                                  : writer.error().c_str());
        return false;
    }
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - began);
    traceAndSay(
        "state saved to %s: %u cookies, %u farm logoffs, %zu queued for the farm, in %lld ms",
        config.path.c_str(), cookies, farmLogoffs, queued.size(),
        static_cast<long long>(took.count()));
    return true;
}
