#include "state/farmQueueFile.h"

#include <cstdio>
#include <exception>

#include "crypto/secureMemory.h"
#include "diag/operatorLine.h"
#include "state/stateFile.h"
#include "state/warmRestart.h"

bool farmQueue_save(const std::string& path, const StateKey& key, std::int32_t now,
                    const std::vector<FarmLogoff>& queued) {
    StateHeader header;
    header.stopTime = now;
    StateFileWriter writer(path);
    bool written = false;
    if (writer.open()) {
        StateEncoder encoder(key, writer, header);
        encoder.cookies(0);
        encoder.farmLogoffs(0);
        encoder.queued(static_cast<std::uint32_t>(queued.size()));
        for (const FarmLogoff& logoff : queued) {
            encoder.queuedLogoff(logoff);
        }
        written = encoder.finish() && writer.commit();
    }
    if (!written) {
        traceAndSay("%zu logoffs not yet published to the farm are lost: %s", queued.size(),
                    writer.error().empty() ? "they could not be encoded" : writer.error().c_str());
        return false;
    }
    traceAndSay("kept %zu logoffs not yet published to the farm in %s", queued.size(),
                path.c_str());
    return true;
}

std::vector<FarmLogoff> farmQueue_load(const std::string& path, const StateKey& key) {
    std::vector<std::uint8_t> bytes;
    std::string reason;
    if (!checkStateDirectory(path, reason)) {
        traceAndSay("farm logoffs kept at the stop not taken: %s", reason.c_str());
        return {};
    }
    StateFileRead read = readStateFile(path, bytes, reason);
    if (read == StateFileRead::Missing) {
        return {};
    }
    std::string asideReason;
    if (read != StateFileRead::Refused && !setStateFileAside(path, asideReason)) {
        // Taken now and again at every start: better not taken at all.
        reason = "it cannot be set aside: " + asideReason;
        read = StateFileRead::Refused;
    }
    std::vector<FarmLogoff> queued;
    std::uint32_t discarded = 0;
    if (read == StateFileRead::Read) {
        StateView view;
        std::uint32_t version = 0;
        if (checkStateFile(key, bytes.data(), bytes.size(), view, version) == StateCheck::Valid) {
            try {
                queued = stateQueuedLogoffs(view);
            } catch (const std::exception& failure) {
                discarded = view.queuedCount();
                reason = failure.what();
            }
        } else {
            unverifiedQueuedCount(bytes.data(), bytes.size(), discarded);
            reason = path + " does not verify";
        }
        secureZero(bytes.data(), bytes.size());
    }
    if (!queued.empty()) {
        traceAndSay("%zu farm logoffs kept at the stop taken from %s", queued.size(), path.c_str());
    } else if (!reason.empty()) {
        traceAndSay("%u farm logoffs discarded: %s", discarded, reason.c_str());
    }
    return queued;
}
