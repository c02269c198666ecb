// The service's side of the framing: one encrypted request read whole, one
// encrypted reply written. A broken connection is reported, never closed
// here: its owner (ClientConnection) closes it when it goes.
#pragma once

struct ClientRequest;
struct ClientReply;

// 1 with the decrypted payload in request->data; 0 when no request could be
// read or decrypted.
int logoffCookieAPI_SERVER_reader(ClientRequest* request);

// For the client loop, which must never wait on a client: looks at no more
// than `most` bytes already received (most at most kRequestCapacity), without
// taking them off the connection, and decrypts them into request->data. 1
// when they decrypt as a whole request; 0 otherwise, with nothing counted or
// traced: the connection's thread reads it again and says what is wrong.
int logoffCookieService_peekRequest(ClientRequest* request, int most);
// Takes the `count` bytes a successful peek looked at off the connection and
// traces the request as read.
bool logoffCookieService_consumeRequest(ClientRequest* request, int count);

// 1 when the encrypted reply was written; 0 when it could not be.
int logoffCookieAPI_SERVER_writer(ClientReply* reply);
