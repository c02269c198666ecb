#include "diag/metricsExposition.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "diag/serviceMetrics.h"
#include "diag/shareMetrics.h"

#ifndef LC_VERSION
#error "LC_VERSION must name the version written into the build information"
#endif

namespace {

enum class Source { Counted, Stored, StoredMicros, Share, ShareGauge };

// One sample line. Consecutive lines of one family share its HELP and TYPE.
struct SampleLine {
    const char* family;
    const char* type;
    const char* help;
    const char* labels;  // inside the braces, or nullptr
    Source source;
    unsigned index;
};

// A row's type and where its value comes from follow from the kind of
// number named; `labels` go inside the braces.
constexpr SampleLine counter(const char* family, const char* help, CountedMetric metric,
                             const char* labels = nullptr) {
    return {family, "counter", help, labels, Source::Counted, static_cast<unsigned>(metric)};
}
constexpr SampleLine counter(const char* family, const char* help, ShareMetric metric,
                             const char* labels = nullptr) {
    return {family, "counter", help, labels, Source::Share, static_cast<unsigned>(metric)};
}
constexpr SampleLine gauge(const char* family, const char* help, StoredMetric metric) {
    return {family, "gauge", help, nullptr, Source::Stored, static_cast<unsigned>(metric)};
}
constexpr SampleLine gauge(const char* family, const char* help, ShareGauge gauge) {
    return {family, "gauge", help, nullptr, Source::ShareGauge, static_cast<unsigned>(gauge)};
}
// A duration stored in microseconds, written out in seconds.
constexpr SampleLine seconds(const char* family, const char* help, StoredMetric metric) {
    return {family, "gauge", help, nullptr, Source::StoredMicros, static_cast<unsigned>(metric)};
}

constexpr const char kRequests[] = "voklogoffcookie_requests_total";
constexpr const char kRequestsHelp[] =
    "Requests read, by answer or failure; client_gone: the answer was not delivered.";
constexpr const char kDropped[] = "voklogoffcookie_share_dropped_total";
constexpr const char kDroppedHelp[] =
    "Farm entries dropped, by reason: queue_full, not published for a full queue; bad_hmac, not "
    "signed with the farm secret; malformed, not an entry of the farm's format (stepped over "
    "unread when too large); expired, the cookie had expired when received.";
constexpr const char kRefusals[] = "voklogoffcookie_share_refusals_total";
constexpr const char kRefusalsHelp[] =
    "Commands the farm's Redis refused, by kind: passing (full memory, a replica, loading; "
    "retried with the backoff) or needs_operator (password, permission, key type; said on "
    "standard error and retried slowly); tls counts connections TLS refused (a certificate, TLS "
    "on one side only; said and retried slowly).";

constexpr const char kRefused[] = "voklogoffcookie_requests_refused_total";
constexpr const char kRefusedHelp[] =
    "Adds closed unanswered, by reason: the peer is not allowed to add, or its credentials "
    "could not be read.";

constexpr const char kLoopFailures[] = "voklogoffcookie_loop_failures_total";
constexpr const char kLoopFailuresHelp[] =
    "Failed accept and select calls of the client loop, by call; while they last no client is "
    "served (usually the worker is out of descriptors).";

constexpr SampleLine kSampleLines[] = {
    counter(kRequests, kRequestsHelp, CountedMetric::RequestsLoggedOff, "outcome=\"logged_off\""),
    counter(kRequests, kRequestsHelp, CountedMetric::RequestsNotLoggedOff,
            "outcome=\"not_logged_off\""),
    counter(kRequests, kRequestsHelp, CountedMetric::RequestsBeforeStart,
            "outcome=\"before_start\""),
    counter(kRequests, kRequestsHelp, CountedMetric::RequestsAdded, "outcome=\"added\""),
    counter(kRequests, kRequestsHelp, CountedMetric::RequestsInvalidFunction,
            "outcome=\"invalid_function\""),
    counter(kRequests, kRequestsHelp, CountedMetric::RequestsTooShort, "outcome=\"too_short\""),
    counter(kRequests, kRequestsHelp, CountedMetric::RequestsUndecryptable,
            "outcome=\"undecryptable\""),
    counter(kRequests, kRequestsHelp, CountedMetric::RequestsClientGone, "outcome=\"client_gone\""),
    counter(kRefused, kRefusedHelp, CountedMetric::AddsRefusedNotListed, "reason=\"not_allowed\""),
    counter(kRefused, kRefusedHelp, CountedMetric::AddsRefusedNoCredentials,
            "reason=\"no_credentials\""),
    counter("voklogoffcookie_connections_accepted_total", "Connections accepted.",
            CountedMetric::ConnectionsAccepted),
    counter("voklogoffcookie_connections_timed_out_total",
            "Connections dropped because no request arrived within the receive time-out.",
            CountedMetric::ConnectionsTimedOut),
    counter("voklogoffcookie_connections_refused_total",
            "Connections closed unserved because no thread could be had.",
            CountedMetric::ConnectionsRefused),
    gauge("voklogoffcookie_connection_threads", "Connection threads alive.",
          StoredMetric::ConnectionThreadsLive),
    gauge("voklogoffcookie_connection_threads_waiting",
          "Connection threads waiting for a connection to serve.",
          StoredMetric::ConnectionThreadsWaiting),
    gauge("voklogoffcookie_cookies_cached", "Logged-off cookies in the set.",
          StoredMetric::CookiesCached),
    gauge("voklogoffcookie_cookies_queued",
          "Cookies in the queue the cleanup walks, replaced ones included.",
          StoredMetric::CookiesQueued),
    gauge("voklogoffcookie_farm_entries", "Logoffs received from the farm and still held.",
          StoredMetric::FarmEntries),
    counter(
        "voklogoffcookie_cache_flushes_total",
        "Times the records held reached the ceiling and the cache forgot them all, as a restart "
        "does.",
        CountedMetric::CacheFlushes),
    counter(kLoopFailures, kLoopFailuresHelp, CountedMetric::LoopAcceptFailures, "call=\"accept\""),
    counter(kLoopFailures, kLoopFailuresHelp, CountedMetric::LoopSelectFailures, "call=\"select\""),
    counter("voklogoffcookie_cleanup_passes_total", "Cleanup passes run.",
            CountedMetric::CleanupPasses),
    seconds("voklogoffcookie_cleanup_last_pass_seconds", "Duration of the last cleanup pass.",
            StoredMetric::CleanupLastPassMicros),
    seconds("voklogoffcookie_cleanup_last_pass_lock_seconds",
            "Time the last cleanup pass held the cache's write lock.",
            StoredMetric::CleanupLastLockMicros),
    counter("voklogoffcookie_share_published_total", "Local logoffs published to the farm.",
            ShareMetric::Published),
    counter("voklogoffcookie_share_republished_total",
            "Local logoffs published again because Redis was found to be another incarnation.",
            ShareMetric::Republished),
    counter(
        "voklogoffcookie_share_incarnation_changes_total",
        "Times Redis was found to be another incarnation than the one that took this host's last "
        "logoffs (another run_id, or that logoff gone from the stream).",
        ShareMetric::IncarnationChanges),
    counter("voklogoffcookie_share_received_total", "Farm entries received and accepted.",
            ShareMetric::Received),
    counter(kDropped, kDroppedHelp, ShareMetric::DroppedQueueFull, "reason=\"queue_full\""),
    counter(kDropped, kDroppedHelp, ShareMetric::DroppedBadHmac, "reason=\"bad_hmac\""),
    counter(kDropped, kDroppedHelp, ShareMetric::DroppedMalformed, "reason=\"malformed\""),
    counter(kDropped, kDroppedHelp, ShareMetric::DroppedExpired, "reason=\"expired\""),
    counter(kRefusals, kRefusalsHelp, ShareMetric::RefusedPassing, "kind=\"passing\""),
    counter(kRefusals, kRefusalsHelp, ShareMetric::RefusedNeedsOperator, "kind=\"needs_operator\""),
    counter(kRefusals, kRefusalsHelp, ShareMetric::RefusedTls, "kind=\"tls\""),
    gauge("voklogoffcookie_share_publishing_refused",
          "1 while Redis refuses this host's logoffs (its last try to publish or to connect was "
          "refused, TLS included), else 0.",
          ShareGauge::PublishingRefused),
    counter(
        "voklogoffcookie_share_position_resets_total",
        "Times the read position was found ahead of the stream or of the server's clock and moved "
        "back to the stream's end.",
        ShareMetric::PositionResets),
    gauge("voklogoffcookie_share_read_last_minute",
          "Farm entries of other hosts judged in the last minute.", ShareGauge::ReadLastMinute),
    gauge("voklogoffcookie_share_bad_hmac_last_minute",
          "Farm entries judged in the last minute that were not signed with the farm secret.",
          ShareGauge::BadHmacLastMinute),
    counter("voklogoffcookie_share_reconnects_total", "Reconnections to the farm's server.",
            ShareMetric::Reconnects),
    counter("voklogoffcookie_share_missed_logoff_warnings_total",
            "Warnings that farm logoffs may have been missed.", ShareMetric::MissedLogoffWarnings),
    gauge(
        "voklogoffcookie_share_seconds_since_last_read",
        "Seconds since the last successful read from the farm, or since sharing started when none "
        "has succeeded yet; NaN with sharing off.",
        ShareGauge::SecondsSinceLastRead),
    // Not the conventional process_start_time_seconds: the node exporter
    // exports that family for itself and refuses a textfile that carries it too.
    gauge("voklogoffcookie_start_time_seconds",
          "Start time of the service's worker, in seconds since the epoch.",
          StoredMetric::ProcessStartTime),
};

std::int64_t signedValue(const SampleLine& line) {
    if (line.source == Source::ShareGauge) {
        return metrics_value(static_cast<ShareGauge>(line.index));
    }
    return metrics_value(static_cast<StoredMetric>(line.index));
}

void appendValue(std::string& out, const SampleLine& line) {
    char value[32];
    if (line.source == Source::Counted || line.source == Source::Share) {
        std::uint64_t count = line.source == Source::Counted
                                  ? metrics_value(static_cast<CountedMetric>(line.index))
                                  : metrics_value(static_cast<ShareMetric>(line.index));
        std::snprintf(value, sizeof value, "%" PRIu64, count);
    } else {
        std::int64_t stored = signedValue(line);
        if (stored == kMetricUnknown) {
            std::snprintf(value, sizeof value, "NaN");
        } else if (line.source == Source::StoredMicros) {
            std::snprintf(value, sizeof value, "%.6f", static_cast<double>(stored) / 1e6);
        } else {
            std::snprintf(value, sizeof value, "%" PRId64, stored);
        }
    }
    out += value;
}

void appendFamilyHeader(std::string& out, const char* family, const char* type, const char* help) {
    out += "# HELP ";
    out += family;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += family;
    out += ' ';
    out += type;
    out += '\n';
}

}  // namespace

std::string metrics_renderText() {
    std::string out;
    out.reserve(4096);
    const char* previousFamily = nullptr;
    for (const SampleLine& line : kSampleLines) {
        if (previousFamily == nullptr || std::strcmp(line.family, previousFamily) != 0) {
            appendFamilyHeader(out, line.family, line.type, line.help);
            previousFamily = line.family;
        }
        out += line.family;
        if (line.labels != nullptr) {
            out += '{';
            out += line.labels;
            out += '}';
        }
        out += ' ';
        appendValue(out, line);
        out += '\n';
    }
    appendFamilyHeader(out, "voklogoffcookie_build_info", "gauge",
                       "Always 1; the version of the running service as a label.");
    out += "voklogoffcookie_build_info{version=\"" LC_VERSION "\"} 1\n";
    return out;
}
