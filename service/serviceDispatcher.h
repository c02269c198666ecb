// One request on one connection: read, answered by its function, and the
// connection ended.
#pragma once

#include "service/clientConnection.h"

struct ClientRequest;
struct ClientReply;

// Body of a connection's thread, and what the loop runs for a request that is
// already there: one request read and answered. The connection is closed when
// this returns, whether normally or by an exception.
void logoffCookieAPI_serviceDispatcher(ClientConnection connection);

void perform_cookieIsCached(const ClientRequest* request, ClientReply* reply);
void perform_addToCache(const ClientRequest* request, ClientReply* reply);
