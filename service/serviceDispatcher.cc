#include "service/serviceDispatcher.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCache.h"
#include "diag/serviceMetrics.h"
#include "diag/traceLog.h"
#include "service/addLimits.h"
#include "service/clientConnection.h"
#include "service/clientRequest.h"
#include "service/messageFraming.h"
#include "service/readyRequest.h"
#include "support/threads/cancellationScope.h"

namespace {

int32_t readInt32(const char* payload, size_t offset) {
    int32_t value;
    std::memcpy(&value, payload + offset, sizeof value);
    return value;
}

// The cookie a query or an add names; only the attributes' place differs.
struct RequestCookie {
    char text[kCookieTextSize];
    char bytes[kCookieBytesSize];
    char attributes[kCookieAttributesSize];

    RequestCookie(const char* payload, size_t attributesOffset) {
        std::memcpy(text, payload + kOffsetCookieText, sizeof text);
        std::memcpy(bytes, payload + kOffsetCookieBytes, sizeof bytes);
        std::memcpy(attributes, payload + attributesOffset, sizeof attributes);
    }
};

// A request shorter than its function's payload gets the function's reply
// without reaching the cache, and is counted.
bool holdsWholeRequest(const ClientRequest* request, int minimumCount) {
    if (request->count >= minimumCount) {
        return true;
    }
    metrics_count(CountedMetric::RequestsTooShort);
    return false;
}

// The reply travels in a zeroed 1024-byte buffer of which 4 bytes are sent.
// A reply that cannot be written is traced in the name of `function`.
void writeReply(ClientReply* reply, int32_t value, const char* function) {
    char buffer[kReplyBufferSize];
    std::memset(buffer, 0, kReplyBufferSize);
    std::memcpy(buffer, &value, sizeof value);
    reply->reply = buffer;
    reply->count = kReplyLength;
    if (!logoffCookieAPI_SERVER_writer(reply)) {
        TRACE_LOG(TRACE_DETAIL, "%s() -- Socket was BROKEN", function);
    }
    reply->reply = nullptr;
}

// One request read and answered; a connection found broken is left to its
// owner to close.
void serveRequest(ClientConnection& connection) {
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
    if (static_cast<unsigned>(request.count) <= 4) {
        metrics_count(CountedMetric::RequestsTooShort);
        return;
    }
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
}

}  // namespace

void perform_cookieIsCached(const ClientRequest* request, ClientReply* reply) {
    int answer = 1;
    if (holdsWholeRequest(request, kMinQueryCount)) {
        const RequestCookie cookie(request->data, kOffsetQueryAttributes);
        int32_t creationTime = readInt32(request->data, kOffsetFirstTime);
        int32_t timeOffset = readInt32(request->data, kOffsetSecondTime);
        answer = logoffCookieAPI_cookieIsCached(cookie.text, cookie.bytes, creationTime, timeOffset,
                                                cookie.attributes);
    }
    writeReply(reply, answer != 0 ? 1 : 0, "perform_cookieIsCached");
}

void perform_addToCache(const ClientRequest* request, ClientReply* reply) {
    // Refused like a malformed request: no reply, and the connection closes.
    if (!logoffCookieService_peerMayAdd(*request->connection)) {
        return;
    }
    if (holdsWholeRequest(request, kMinAddCount)) {
        const RequestCookie cookie(request->data, kOffsetAddAttributes);
        int32_t lastUseTime = readInt32(request->data, kOffsetFirstTime);
        int32_t creationTime = readInt32(request->data, kOffsetSecondTime);
        int32_t timeOffset = readInt32(request->data, kOffsetAddTimeOffset);
        int32_t cookieKind = readInt32(request->data, kOffsetAddCookieKind);
        logoffCookieAPI_addToCache(cookie.text, cookie.bytes, lastUseTime, creationTime, timeOffset,
                                   cookie.attributes, cookieKind);
    }
    writeReply(reply, kAddReplyValue, "perform_addToCache");
}

void logoffCookieAPI_serviceDispatcher(ClientConnection connection) {
    // A connection is served whole or, while it waits for its request, not
    // at all: never cut off in the cache, the heap or a lock at the exit.
    NoCancellation wholeRequest;
    // Goes before the scope ends, so the close is never cut off either.
    ClientConnection served = std::move(connection);
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_serviceDispatcher() -- Starting with fd_client: %d",
              served.descriptor());
    serveRequest(served);
    // What the ceiling's flush took, if this request's add passed it, is
    // freed only once the reply is written and the connection closed: the
    // client waits for neither (freeing millions of records takes seconds).
    served.close();
    logoffCookieCache().freeFlushedRecords();
}

bool logoffCookieService_answerQueryAtOnce(ClientConnection& connection, int readable) {
    if (readable < kCompleteQueryTextLength || readable > kRequestCapacity) {
        return false;
    }
    ClientRequest request;
    request.connection = &connection;
    request.count = 0;
    if (!logoffCookieService_peekRequest(&request, readable) ||
        static_cast<unsigned>(request.count) < kMinQueryCount ||
        readInt32(request.data, kOffsetFunctionCode) != FUNC_COOKIE_IS_CACHED) {
        return false;
    }
    const RequestCookie cookie(request.data, kOffsetQueryAttributes);
    int answer = logoffCookieCache_tryCookieIsCached(
        cookie.text, cookie.bytes, readInt32(request.data, kOffsetFirstTime),
        readInt32(request.data, kOffsetSecondTime), cookie.attributes);
    if (answer < 0) {
        return false;  // the cache is busy: the thread waits for it instead
    }
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_serviceDispatcher() -- Starting with fd_client: %d",
              connection.descriptor());
    if (!logoffCookieService_consumeRequest(&request, readable)) {
        return true;  // gone meanwhile: nobody to answer
    }
    ClientReply reply{};
    reply.connection = &connection;
    writeReply(&reply, answer != 0 ? 1 : 0, "perform_cookieIsCached");
    return true;
}
