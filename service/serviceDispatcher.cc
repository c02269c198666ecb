#include <cstdint>
#include <cstring>

#include "cache/cacheCeiling.h"
#include "cache/logoffCookieAPI.h"
#include "diag/serviceMetrics.h"
#include "diag/traceLog.h"
#include "service/addLimits.h"
#include "service/clientConnection.h"
#include "service/clientRequest.h"
#include "service/logoffCookieAPIServer.h"
#include "support/threads/cancellationScope.h"

namespace {

int32_t readInt32(const char* payload, size_t offset) {
    int32_t value;
    std::memcpy(&value, payload + offset, sizeof value);
    return value;
}

// The reply travels in a zeroed 1024-byte buffer of which 4 bytes are sent.
void fillReply(ClientReply* reply, char* buffer, int32_t value) {
    std::memset(buffer, 0, kReplyBufferSize);
    std::memcpy(buffer, &value, sizeof value);
    reply->reply = buffer;
    reply->count = kReplyLength;
}

}  // namespace

void perform_cookieIsCached(const ClientRequest* request, ClientReply* reply) {
    int answer = 1;
    if (request->count < kMinQueryCount) {
        metrics_count(CountedMetric::RequestsTooShort);
    } else {
        const char* payload = request->data;
        char cookieText[kCookieTextSize];
        char cookieBytes[kCookieBytesSize];
        char cookieAttributes[kCookieAttributesSize];
        std::memcpy(cookieText, payload + kOffsetCookieText, sizeof cookieText);
        std::memcpy(cookieBytes, payload + kOffsetCookieBytes, sizeof cookieBytes);
        std::memcpy(cookieAttributes, payload + kOffsetQueryAttributes, sizeof cookieAttributes);
        int32_t creationTime = readInt32(payload, kOffsetFirstTime);
        int32_t timeOffset = readInt32(payload, kOffsetSecondTime);
        answer = logoffCookieAPI_cookieIsCached(cookieText, cookieBytes, creationTime, timeOffset,
                                                cookieAttributes);
    }
    char buffer[kReplyBufferSize];
    fillReply(reply, buffer, answer != 0 ? 1 : 0);
    if (!logoffCookieAPI_SERVER_writer(reply)) {
        TRACE_LOG(TRACE_DETAIL, "perform_cookieIsCached() -- Socket was BROKEN");
    }
}

void perform_addToCache(const ClientRequest* request, ClientReply* reply) {
    // Refused like a malformed request: no reply, and the dispatcher closes.
    if (!logoffCookieAPI_peerMayAdd(*request->connection)) {
        return;
    }
    if (request->count < kMinAddCount) {
        metrics_count(CountedMetric::RequestsTooShort);
    } else {
        const char* payload = request->data;
        char cookieText[kCookieTextSize];
        char cookieBytes[kCookieBytesSize];
        char cookieAttributes[kCookieAttributesSize];
        std::memcpy(cookieText, payload + kOffsetCookieText, sizeof cookieText);
        std::memcpy(cookieBytes, payload + kOffsetCookieBytes, sizeof cookieBytes);
        std::memcpy(cookieAttributes, payload + kOffsetAddAttributes, sizeof cookieAttributes);
        int32_t lastUseTime = readInt32(payload, kOffsetFirstTime);
        int32_t creationTime = readInt32(payload, kOffsetSecondTime);
        int32_t timeOffset = readInt32(payload, kOffsetAddTimeOffset);
        int32_t cookieKind = readInt32(payload, kOffsetAddCookieKind);
        logoffCookieAPI_addToCache(cookieText, cookieBytes, lastUseTime, creationTime, timeOffset,
                                   cookieAttributes, cookieKind);
    }
    char buffer[kReplyBufferSize];
    fillReply(reply, buffer, kAddReplyValue);
    if (!logoffCookieAPI_SERVER_writer(reply)) {
        TRACE_LOG(TRACE_DETAIL, "perform_addToCache() -- Socket was BROKEN");
    }
    // What the ceiling's flush took, if this add passed it: freed only now,
    // so that the reply did not wait for it.
    logoffCookieAPI_freeFlushedRecords();
}

void logoffCookieAPI_serviceDispatcher(ClientConnection connection) {
    // A connection is served whole or, while it waits for its request, not
    // at all: never cut off in the cache, the heap or a lock at the exit.
    NoCancellation wholeRequest;
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_serviceDispatcher() -- Starting with fd_client: %d",
              connection.descriptor());
    ClientRequest request;
    ClientReply reply{};
    request.connection = &connection;
    request.count = 0;
    reply.connection = &connection;

    if (!logoffCookieAPI_SERVER_reader(&request)) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieAPI_serviceDispatcher() -- Failed to read Client function request.");
        return;
    }
    if (static_cast<unsigned>(request.count) > 4) {
        int32_t func = readInt32(request.data, kOffsetFunctionCode);
        switch (func) {
            case FUNC_COOKIE_IS_CACHED:
                perform_cookieIsCached(&request, &reply);
                break;
            case FUNC_ADD_TO_CACHE:
                perform_addToCache(&request, &reply);
                break;
            default:
                TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_serviceDispatcher() -- Invalid func: %d",
                          func);
                metrics_count(CountedMetric::RequestsInvalidFunction);
        }
    } else {
        metrics_count(CountedMetric::RequestsTooShort);
    }
    // Still open unless the reply could not be written; the owner closes it
    // on the way out in any case, an exception from the handlers included.
    connection.close();
}
