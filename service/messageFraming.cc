#include "service/messageFraming.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>

#include "crypto/logoffCookiePipe_crypt.h"
#include "diag/errnoName.h"
#include "diag/serviceMetrics.h"
#include "diag/traceLog.h"
#include "service/clientConnection.h"
#include "service/clientRequest.h"
#include "support/threads/cancellationScope.h"

namespace {

// The service always encrypts; the plain mode exists for the envelope's callers.
const int pipeEncryptionType = ENCRYPTION_KAE5;

// The receive time-out ends a silent connection with EAGAIN. A client that
// leaves before sending anything made no request and is not counted as one.
void countFailedRead(int error) {
    if (error == EAGAIN || error == EWOULDBLOCK) {
        metrics_count(CountedMetric::ConnectionsTimedOut);
    }
}

// Traces errno by name. Its "closing..." is the system's own word for what
// follows, not done here: the connection's owner closes the descriptor, or,
// when it was never open (EBADF), lets it go without a close.
void logoffCookieAPI_socketCheck(int error) {
    TRACE_LOG(TRACE_DETAIL,
              "logoffCookieAPI_socketCheck() -- socket broken with errno %s, val %d -- closing...",
              errnoName(error), error);
}

}  // namespace

int logoffCookieAPI_SERVER_reader(ClientRequest* request) {
    TRACE_LOG(TRACE_ENTRY, "logoffCookieAPI_SERVER_reader() -- STARTING");
    // One read is the whole request: the protocol has no length prefix.
    // A silent client holds it for the receive time-out: the exit may end it.
    ssize_t received;
    {
        CancellableWait wait;
        received = request->connection->receive(request->data, kRequestCapacity);
    }
    if (received > 0) {
        request->count = static_cast<int>(received);
        int result =
            decryptPipeData(request->data, &request->count, kRequestCapacity, pipeEncryptionType);
        if (result == 0) {
            TRACE_LOG(TRACE_DETAIL,
                      "logoffCookieAPI_SERVER_reader -- decryptPipeData SUCCESS -- num decrypted "
                      "bytes: %d",
                      request->count);
            TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_SERVER_reader() -- EXIT");
            return 1;
        }
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieAPI_SERVER_reader -- decryptPipeData FAILED with error: %d", result);
        metrics_count(CountedMetric::RequestsUndecryptable);
        return 0;
    }
    if (received == 0) {
        TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_SERVER_reader() -- Unexpected end of data");
        return 0;
    }
    const int error = errno;
    logoffCookieAPI_socketCheck(error);
    countFailedRead(error);
    return 0;
}

int logoffCookieService_peekRequest(ClientRequest* request, int most) {
    ssize_t received = recv(request->connection->descriptor(), request->data,
                            static_cast<size_t>(most), MSG_PEEK | MSG_DONTWAIT);
    if (received <= 0) {
        return 0;
    }
    request->count = static_cast<int>(received);
    return decryptPipeData(request->data, &request->count, kRequestCapacity, pipeEncryptionType) ==
                   0
               ? 1
               : 0;
}

bool logoffCookieService_consumeRequest(ClientRequest* request, int count) {
    char discarded[kRequestCapacity];
    if (recv(request->connection->descriptor(), discarded, static_cast<size_t>(count),
             MSG_DONTWAIT) != count) {
        return false;
    }
    // The request is read now: said as the reader says it.
    TRACE_LOG(TRACE_ENTRY, "logoffCookieAPI_SERVER_reader() -- STARTING");
    TRACE_LOG(TRACE_DETAIL,
              "logoffCookieAPI_SERVER_reader -- decryptPipeData SUCCESS -- num decrypted bytes: %d",
              request->count);
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_SERVER_reader() -- EXIT");
    return true;
}

int logoffCookieAPI_SERVER_writer(ClientReply* reply) {
    TRACE_LOG(TRACE_ENTRY, "logoffCookieAPI_SERVER_writer() -- STARTING");
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_SERVER_writer() -- STARTING");
    char* text = nullptr;
    int textLength = 0;
    int result =
        encryptPipeData(reply->reply, reply->count, &text, &textLength, pipeEncryptionType);
    if (result != 0) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieAPI_SERVER_writer -- encryptPipeData FAILED with error: %d", result);
        std::free(text);
        return 0;
    }
    TRACE_LOG(TRACE_DETAIL,
              "logoffCookieAPI_SERVER_writer -- encryptPipeData SUCCESS -- num encrypted bytes: %d",
              textLength);
    ssize_t written = reply->connection->send(text, static_cast<size_t>(textLength));
    if (written > 0) {
        std::free(text);
        TRACE_LOG(TRACE_EXIT, "logoffCookieAPI_SERVER_writer() -- EXIT");
        return 1;
    }
    if (written == 0) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieAPI_SERVER_writer() -- Unexpected failure to write any data");
    } else {
        logoffCookieAPI_socketCheck(errno);
    }
    metrics_count(CountedMetric::RequestsClientGone);
    std::free(text);
    return 0;
}
