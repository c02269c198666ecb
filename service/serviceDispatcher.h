// One request on one connection: read, answered by its function, and the
// connection ended.
#pragma once

#include "service/clientConnection.h"

struct ClientRequest;
struct ClientReply;

// Body of a connection's thread: one request read and answered. The
// connection is closed when this returns, whether normally or by an
// exception; what a flush at the cache's ceiling took is freed only after.
void logoffCookieAPI_serviceDispatcher(ClientConnection connection);

// On the client loop, which must wait for neither the client nor the cache:
// answers the connection's request when the `readable` bytes already
// received (FIONREAD) hold a whole query and the cache's read hold is free at
// once. Anything else (an add, a request not all there, a busy cache) is left
// untouched for a connection thread: false, with nothing taken off the
// connection.
bool logoffCookieService_answerQueryAtOnce(ClientConnection& connection, int readable);

void perform_cookieIsCached(const ClientRequest* request, ClientReply* reply);
void perform_addToCache(const ClientRequest* request, ClientReply* reply);
