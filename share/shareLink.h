// How the publishing and the receiving thread connect to Redis, wait to
// retry, and say when Redis is away and back.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "share/readEndpoints.h"
#include "share/redisLink.h"
#include "share/shareBackoff.h"
#include "support/threads/RWThreadFunction.h"

// Keeps one thread's link up: connects when it is down, waiting between tries
// with the backoff. With sentinel:// each connection asks the sentinels for
// the primary first. Returns true once connected; false when this try failed
// (the caller loops). `thread` is asked between waits whether to end.
// After Redis (or a sentinel) refused the connection, the credentials file
// is read again before the next try, and the wait for it ends as soon as
// the file changes: an operator who mends the file is not kept waiting.
// The receiver's connector (`reader`) connects where ReadEndpoints says when
// the configuration reads from replicas.
class ShareConnector {
  public:
    ShareConnector(const char* name, std::chrono::milliseconds ioTimeout,
                   const RWThreadFunction& thread, bool reader = false);
    // Wipes the credentials it holds.
    ~ShareConnector();
    ShareConnector(const ShareConnector&) = delete;
    ShareConnector& operator=(const ShareConnector&) = delete;

    bool ensureConnected(RedisLink& link);
    // The link failed in use: close it and report; when TLS refused it, as
    // tlsRefused() does.
    void lost(RedisLink& link, const std::string& error);
    // TLS refused a connection (`error` says why, with what to mend):
    // counted, said once a minute, and tried again after the last retry
    // pause.
    void tlsRefused(const std::string& error);
    // The link failed for what Redis sent (a reply too large or malformed):
    // close it, and the next connection waits the backoff, so a read that
    // keeps failing never spins.
    void failedRead(RedisLink& link, const std::string& error);
    // A reply given up after the reader learnt what to step over: the link
    // is closed and the next one made at once, since the reading moves on.
    void steppedOver() { pauseSeconds_ = 0; }
    // Redis refused `what` ("publishing", "reading") on a working link with
    // the error reply `reply`: counted, said as RedisRefusal tells, and
    // waited for: a passing refusal with the backoff, one an operator must
    // mend for the last retry pause.
    void refused(const char* what, std::string_view reply);
    // The same, counted and said, but not waited for.
    void noteRefusal(const char* what, std::string_view reply) { pauseFor(what, reply); }
    // A command went through: the next failure waits the first pause again.
    void served() {
        refusals_.succeeded();
        connects_.ended();
    }
    // A write answered READONLY: the link reached a replica (the primary of
    // a moment ago, demoted). Closes it; with sentinel:// the next
    // connection asks the sentinels again.
    void foundReplica(RedisLink& link, std::string_view reply);
    // What the next connection waits first, in seconds.
    int pauseSeconds() const { return pauseSeconds_; }

    // The node the last connection reached.
    const ReadSpot& spot() const { return spot_; }
    // Whether the reading may move to another node: it reads from replicas.
    bool readsFromReplicas() const { return reads_ != nullptr; }
    // The reader leaves the node it reads (`why` says why): the link is
    // closed and the next connection, made at once, reads elsewhere.
    void leaveReadEndpoint(RedisLink& link, const std::string& why);
    // While connected, now and then: whether to read elsewhere (a replica
    // flagged, or a better one back); leaves the node when so.
    void reviewReadEndpoint(RedisLink& link);

  private:
    // The one step that makes a connection, and says what came of it.
    bool connect(RedisLink& link);
    // The connection was refused: counted, said with what to mend, and
    // waited for until the retry or a change of the credentials file.
    void connectionRefused(const std::string& reply);
    // Waits `seconds`, or less when `untilCredentialsChange` and the
    // credentials file changes meanwhile.
    void waitBeforeRetry(int seconds, bool untilCredentialsChange = false);
    // Counts and says a refusal; returns the pause it calls for. `advice`,
    // when given, says what to mend instead of the reply's own advice.
    int pauseFor(const char* what, std::string_view reply, const std::string& advice = {});
    // Takes the credentials file again after a refusal; said when it cannot.
    void rereadCredentials();
    // A new connection reached `spot`: said when the reader moved.
    void reached(const ReadSpot& spot);
    // The next connection at once, unless the link served too short a while
    // (a node that drops each link as soon as made would make the thread spin).
    void againSoon();

    const char* name_;
    std::chrono::milliseconds ioTimeout_;
    const RWThreadFunction& thread_;
    // This connector's own copy of the endpoint, whose credentials it reads
    // again after a refusal; made from the shared one at the first try.
    ShareEndpoint endpoint_;
    bool haveEndpoint_ = false;
    bool rereadCredentials_ = false;
    // This connector's bit in the refused gauge.
    unsigned refusedSlot_;
    OutagePause connects_;   // connections that failed or were lost at once
    ShareBackoff refusals_;  // commands refused in a row
    int pauseSeconds_ = 0;   // before the next connection
    std::chrono::steady_clock::time_point connectedAt_;
    bool everConnected_ = false;
    std::string where_;  // the node connected to, for the trace
    ReadSpot spot_;
    bool reader_;
    std::unique_ptr<ReadEndpoints> reads_;  // made at the first connection
};
