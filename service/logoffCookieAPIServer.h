// The service process: start-up, the three processes and their signals, the
// client loop, the request dispatcher and the message framing.
#pragma once

#include <sys/types.h>

#include "service/clientConnection.h"

struct ClientRequest;
struct ClientReply;

// The process name every instance runs under; the single-instance check
// looks for it.
inline constexpr const char kServiceProcessName[] = "VOKLogoffCookieService";

// The whole start-up; returns only through exit in one of the processes.
[[noreturn]] void logoffCookieAPI_ServerMain();

// Serves the listening descriptor for ever: a connection whose whole request
// is already there is answered on the loop, every other one on a connection
// thread of its own.
[[noreturn]] void logoffCookieAPI_clientLoop(int fd_socket);

// Makes the client loop start no more connection threads: called by the
// worker before it exits, so that the exit's thread shutdown and static
// destructors do not race with new connections. Returns once no launch is
// under way.
void logoffCookieAPI_stopAccepting();

// Body of a connection's thread, and what the loop runs for a request that is
// already there: one request read, answered and closed. The
// connection is closed when this returns, whether normally or by an exception.
void logoffCookieAPI_serviceDispatcher(ClientConnection connection);

void perform_cookieIsCached(const ClientRequest* request, ClientReply* reply);
void perform_addToCache(const ClientRequest* request, ClientReply* reply);

// 1 with the decrypted payload in request->data; 0 with the connection closed.
int logoffCookieAPI_SERVER_reader(ClientRequest* request);

// 1 when the encrypted reply was written; 0 with the connection closed.
int logoffCookieAPI_SERVER_writer(ClientReply* reply);

// Traces errno by name and closes the connection, or, when the descriptor was
// never open (EBADF), lets it go without a close.
void logoffCookieAPI_socketCheck(ClientConnection* connection);

// The name the socket check writes for an errno value.
const char* errnoName(int error);
