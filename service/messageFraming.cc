#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "crypto/logoffCookiePipe_crypt.h"
#include "diag/serviceMetrics.h"
#include "diag/traceLog.h"
#include "service/clientConnection.h"
#include "service/clientRequest.h"
#include "service/logoffCookieAPIServer.h"
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

}  // namespace

const char* errnoName(int error) {
    switch (error) {
        case EAGAIN:
            return "EAGAIN";
        case EBADF:
            return "EBADF";
        case EFAULT:
            return "EFAULT";
        case EFBIG:
            return "EFBIG";
        case EINTR:
            return "EINTR";
        case EINVAL:
            return "EINVAL";
        case EIO:
            return "EIO";
        case ENOSPC:
            return "ENOSPC";
        case EPIPE:
            return "EPIPE";
        case EISDIR:
            return "EISDIR";
        default:
            return "Unspecified error";
    }
}

void logoffCookieAPI_socketCheck(ClientConnection* connection) {
    int error = errno;
    TRACE_LOG(TRACE_DETAIL,
              "logoffCookieAPI_socketCheck() -- socket broken with errno %s, val %d -- closing...",
              errnoName(error), error);
    if (error == EBADF) {
        connection->forget();
    } else {
        connection->close();
    }
}

int logoffCookieAPI_SERVER_reader(ClientRequest* request) {
    TRACE_LOG(TRACE_ENTRY, "logoffCookieAPI_SERVER_reader() -- STARTING");
    // One read is the whole request: the protocol has no length prefix.
    // A silent client holds it for the receive time-out: the exit may end it.
    ssize_t received;
    {
        CancellableWait wait;
        received = read(request->connection->descriptor(), request->data, kRequestCapacity);
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
        request->connection->close();
        return 0;
    }
    if (received == 0) {
        TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_SERVER_reader() -- Unexpected end of data");
        request->connection->close();
        return 0;
    }
    const int error = errno;
    logoffCookieAPI_socketCheck(request->connection);
    countFailedRead(error);
    return 0;
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
        reply->connection->close();
        return 0;
    }
    TRACE_LOG(TRACE_DETAIL,
              "logoffCookieAPI_SERVER_writer -- encryptPipeData SUCCESS -- num encrypted bytes: %d",
              textLength);
    // MSG_NOSIGNAL: a client that has gone away must not raise SIGPIPE.
    ssize_t written =
        send(reply->connection->descriptor(), text, static_cast<size_t>(textLength), MSG_NOSIGNAL);
    if (written > 0) {
        std::free(text);
        TRACE_LOG(TRACE_EXIT, "logoffCookieAPI_SERVER_writer() -- EXIT");
        return 1;
    }
    if (written == 0) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieAPI_SERVER_writer() -- Unexpected failure to write any data");
        reply->connection->close();
    } else {
        logoffCookieAPI_socketCheck(reply->connection);
    }
    // Counted after the socket check, which reads errno.
    metrics_count(CountedMetric::RequestsClientGone);
    std::free(text);
    return 0;
}
