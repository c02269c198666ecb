#include "diag/metricsExposition.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "diag/serviceMetrics.h"

#ifndef LC_VERSION
#error "LC_VERSION must name the version written into the build information"
#endif

namespace {

enum class Source { Counted, Stored, StoredMicros };

// One sample line. Consecutive lines of one family share its HELP and TYPE.
struct SampleLine {
    const char* family;
    const char* type;
    const char* help;
    const char* labels;  // inside the braces, or nullptr
    Source source;
    unsigned index;
};

constexpr unsigned at(CountedMetric metric) {
    return static_cast<unsigned>(metric);
}
constexpr unsigned at(StoredMetric metric) {
    return static_cast<unsigned>(metric);
}

constexpr const char kRequests[] = "voklogoffcookie_requests_total";
constexpr const char kRequestsHelp[] =
    "Requests read, by answer or failure; client_gone: the answer was not delivered.";
constexpr const char kDropped[] = "voklogoffcookie_share_dropped_total";
constexpr const char kDroppedHelp[] =
    "Farm entries dropped, by reason: queue_full, not published for a full queue; bad_hmac, not "
    "signed with the farm secret; malformed, not an entry of the farm's format (stepped over "
    "unread when too large).";
constexpr const char kRefusals[] = "voklogoffcookie_share_refusals_total";
constexpr const char kRefusalsHelp[] =
    "Commands the farm's Redis refused, by kind: passing (full memory, a replica, loading; "
    "retried with the backoff) or needs_operator (password, permission, key type; said on "
    "standard error and retried slowly).";

constexpr const char kRefused[] = "voklogoffcookie_requests_refused_total";
constexpr const char kRefusedHelp[] =
    "Adds closed unanswered, by reason: the peer is not allowed to add, or its credentials "
    "could not be read.";

constexpr SampleLine kSampleLines[] = {
    {kRequests, "counter", kRequestsHelp, "outcome=\"logged_off\"", Source::Counted,
     at(CountedMetric::RequestsLoggedOff)},
    {kRequests, "counter", kRequestsHelp, "outcome=\"not_logged_off\"", Source::Counted,
     at(CountedMetric::RequestsNotLoggedOff)},
    {kRequests, "counter", kRequestsHelp, "outcome=\"before_start\"", Source::Counted,
     at(CountedMetric::RequestsBeforeStart)},
    {kRequests, "counter", kRequestsHelp, "outcome=\"added\"", Source::Counted,
     at(CountedMetric::RequestsAdded)},
    {kRequests, "counter", kRequestsHelp, "outcome=\"invalid_function\"", Source::Counted,
     at(CountedMetric::RequestsInvalidFunction)},
    {kRequests, "counter", kRequestsHelp, "outcome=\"too_short\"", Source::Counted,
     at(CountedMetric::RequestsTooShort)},
    {kRequests, "counter", kRequestsHelp, "outcome=\"undecryptable\"", Source::Counted,
     at(CountedMetric::RequestsUndecryptable)},
    {kRequests, "counter", kRequestsHelp, "outcome=\"client_gone\"", Source::Counted,
     at(CountedMetric::RequestsClientGone)},
    {kRefused, "counter", kRefusedHelp, "reason=\"not_allowed\"", Source::Counted,
     at(CountedMetric::AddsRefusedNotListed)},
    {kRefused, "counter", kRefusedHelp, "reason=\"no_credentials\"", Source::Counted,
     at(CountedMetric::AddsRefusedNoCredentials)},
    {"voklogoffcookie_connections_accepted_total", "counter", "Connections accepted.", nullptr,
     Source::Counted, at(CountedMetric::ConnectionsAccepted)},
    {"voklogoffcookie_connections_timed_out_total", "counter",
     "Connections dropped because no request arrived within the receive time-out.", nullptr,
     Source::Counted, at(CountedMetric::ConnectionsTimedOut)},
    {"voklogoffcookie_connections_refused_total", "counter",
     "Connections closed unserved because no thread could be had.", nullptr, Source::Counted,
     at(CountedMetric::ConnectionsRefused)},
    {"voklogoffcookie_connection_threads", "gauge", "Connection threads alive.", nullptr,
     Source::Stored, at(StoredMetric::ConnectionThreadsLive)},
    {"voklogoffcookie_connection_threads_waiting", "gauge",
     "Connection threads waiting for a connection to serve.", nullptr, Source::Stored,
     at(StoredMetric::ConnectionThreadsWaiting)},
    {"voklogoffcookie_cookies_cached", "gauge", "Logged-off cookies in the set.", nullptr,
     Source::Stored, at(StoredMetric::CookiesCached)},
    {"voklogoffcookie_cookies_queued", "gauge",
     "Cookies in the queue the cleanup walks, replaced ones included.", nullptr, Source::Stored,
     at(StoredMetric::CookiesQueued)},
    {"voklogoffcookie_farm_entries", "gauge", "Logoffs received from the farm and still held.",
     nullptr, Source::Stored, at(StoredMetric::FarmEntries)},
    {"voklogoffcookie_cache_flushes_total", "counter",
     "Times the records held reached the ceiling and the cache forgot them all, as a restart "
     "does.",
     nullptr, Source::Counted, at(CountedMetric::CacheFlushes)},
    {"voklogoffcookie_cleanup_passes_total", "counter", "Cleanup passes run.", nullptr,
     Source::Counted, at(CountedMetric::CleanupPasses)},
    {"voklogoffcookie_cleanup_last_pass_seconds", "gauge", "Duration of the last cleanup pass.",
     nullptr, Source::StoredMicros, at(StoredMetric::CleanupLastPassMicros)},
    {"voklogoffcookie_cleanup_last_pass_lock_seconds", "gauge",
     "Time the last cleanup pass held the cache's write lock.", nullptr, Source::StoredMicros,
     at(StoredMetric::CleanupLastLockMicros)},
    {"voklogoffcookie_share_published_total", "counter", "Local logoffs published to the farm.",
     nullptr, Source::Stored, at(StoredMetric::SharePublished)},
    {"voklogoffcookie_share_republished_total", "counter",
     "Local logoffs published again because Redis was found to be another incarnation.", nullptr,
     Source::Stored, at(StoredMetric::ShareRepublished)},
    {"voklogoffcookie_share_incarnation_changes_total", "counter",
     "Times Redis was found to be another incarnation than the one that took this host's last "
     "logoffs (another run_id, or that logoff gone from the stream).",
     nullptr, Source::Stored, at(StoredMetric::ShareIncarnationChanges)},
    {"voklogoffcookie_share_received_total", "counter", "Farm entries received and accepted.",
     nullptr, Source::Stored, at(StoredMetric::ShareReceived)},
    {kDropped, "counter", kDroppedHelp, "reason=\"queue_full\"", Source::Stored,
     at(StoredMetric::ShareDroppedQueueFull)},
    {kDropped, "counter", kDroppedHelp, "reason=\"bad_hmac\"", Source::Stored,
     at(StoredMetric::ShareDroppedBadHmac)},
    {kDropped, "counter", kDroppedHelp, "reason=\"malformed\"", Source::Stored,
     at(StoredMetric::ShareDroppedMalformed)},
    {kRefusals, "counter", kRefusalsHelp, "kind=\"passing\"", Source::Stored,
     at(StoredMetric::ShareRefusedPassing)},
    {kRefusals, "counter", kRefusalsHelp, "kind=\"needs_operator\"", Source::Stored,
     at(StoredMetric::ShareRefusedNeedsOperator)},
    {"voklogoffcookie_share_publishing_refused", "gauge",
     "1 while Redis refuses this host's logoffs (its last try to publish was refused), else 0.",
     nullptr, Source::Stored, at(StoredMetric::SharePublishingRefused)},
    {"voklogoffcookie_share_position_resets_total", "counter",
     "Times the read position was found ahead of the stream or of the server's clock and moved "
     "back to the stream's end.",
     nullptr, Source::Stored, at(StoredMetric::SharePositionResets)},
    {"voklogoffcookie_share_read_last_minute", "gauge",
     "Farm entries of other hosts judged in the last minute.", nullptr, Source::Stored,
     at(StoredMetric::ShareReadLastMinute)},
    {"voklogoffcookie_share_bad_hmac_last_minute", "gauge",
     "Farm entries judged in the last minute that were not signed with the farm secret.", nullptr,
     Source::Stored, at(StoredMetric::ShareBadHmacLastMinute)},
    {"voklogoffcookie_share_reconnects_total", "counter", "Reconnections to the farm's server.",
     nullptr, Source::Stored, at(StoredMetric::ShareReconnects)},
    {"voklogoffcookie_share_missed_logoff_warnings_total", "counter",
     "Warnings that farm logoffs may have been missed.", nullptr, Source::Stored,
     at(StoredMetric::ShareMissedLogoffWarnings)},
    {"voklogoffcookie_share_seconds_since_last_read", "gauge",
     "Seconds since the last successful read from the farm, or since sharing started when none "
     "has succeeded yet; NaN with sharing off.",
     nullptr, Source::Stored, at(StoredMetric::ShareSecondsSinceLastRead)},
    // Not the conventional process_start_time_seconds: the node exporter
    // exports that family for itself and refuses a textfile that carries it too.
    {"voklogoffcookie_start_time_seconds", "gauge",
     "Start time of the service's worker, in seconds since the epoch.", nullptr, Source::Stored,
     at(StoredMetric::ProcessStartTime)},
};

void appendValue(std::string& out, const SampleLine& line) {
    char value[32];
    if (line.source == Source::Counted) {
        std::snprintf(value, sizeof value, "%" PRIu64,
                      metrics_value(static_cast<CountedMetric>(line.index)));
    } else {
        std::int64_t stored = metrics_value(static_cast<StoredMetric>(line.index));
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
