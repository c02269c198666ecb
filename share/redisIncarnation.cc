#include "share/redisIncarnation.h"

#include <algorithm>

RedisIncarnation::Finding RedisIncarnation::check(RedisLink& link, const std::string& streamKey,
                                                  std::string& why, std::string& error) {
    RedisInstance instance;
    FactsOutcome asked = readInstance(link, instance, error);
    if (asked == FactsOutcome::Refused) {
        why.assign(error, 0, 200);
        return Finding::Unknown;
    }
    if (asked != FactsOutcome::Answered) {
        return Finding::Unknown;
    }
    bool seenBefore = instance_.known();
    bool otherRun = seenBefore && !instance.runId.empty() && instance.runId != instance_.runId;
    // The same process, made the replica of another primary since: its data
    // is that primary's.
    bool otherData = seenBefore && !instance.replicationId.empty() &&
                     instance.replicationId != instance_.replicationId;
    if (instance.known()) {
        instance_ = instance;
    }
    if (otherRun || otherData) {
        why = otherRun ? "another run_id" : "another replication id";
        return Finding::Another;
    }
    if (lastPublished_.empty()) {
        return seenBefore ? Finding::Same : Finding::Unknown;
    }
    // Our last entry, and only it: a reply bounded by what we wrote.
    RedisReply entry =
        link.command({"XRANGE", streamKey, lastPublished_, lastPublished_, "COUNT", "1"}, error);
    if (!entry) {
        return Finding::Unknown;
    }
    if (entry->type != REDIS_REPLY_ARRAY) {
        if (entry->type == REDIS_REPLY_ERROR) {
            why.assign(entry->str, std::min<std::size_t>(entry->len, 200));
        }
        return Finding::Unknown;
    }
    if (entry->elements != 0) {
        if (addedFor_ != lastPublished_) {
            // How many entries the stream had taken with ours in it: when ours
            // is trimmed away later, a count as high tells it is the same stream.
            StreamFacts facts;
            FactsOutcome outcome = readStreamInfo(link, streamKey, facts, error);
            if (outcome == FactsOutcome::Answered || outcome == FactsOutcome::GivenUp) {
                added_ = facts.added;
                addedFor_ = lastPublished_;
            } else if (outcome == FactsOutcome::Refused) {
                why.assign(error, 0, 200);
            }
            if (outcome != FactsOutcome::Answered) {
                return Finding::Unknown;
            }
        }
        return Finding::Same;
    }
    if (trimmedAway(link, streamKey, error)) {
        // Nothing of ours is left to look for until we publish again.
        lastPublished_.clear();
        return link.connected() ? Finding::Same : Finding::Unknown;
    }
    if (!link.connected()) {
        return Finding::Unknown;
    }
    why = "the stream no longer holds entry " + lastPublished_;
    return Finding::Another;
}

bool RedisIncarnation::trimmedAway(RedisLink& link, const std::string& streamKey,
                                   std::string& error) {
    if (addedFor_ != lastPublished_ || added_ < 0) {
        return false;
    }
    // Trimming takes our entry and leaves the count of entries ever added;
    // a stream deleted and made anew counts from 0 again.
    StreamFacts facts;
    FactsOutcome outcome = readStreamInfo(link, streamKey, facts, error);
    return (outcome == FactsOutcome::Answered || outcome == FactsOutcome::GivenUp) &&
           facts.exists && facts.added >= added_;
}
