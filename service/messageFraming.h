// The service's side of the framing: one encrypted request read whole, one
// encrypted reply written. A broken connection is reported, never closed
// here: its owner (ClientConnection) closes it when it goes.
#pragma once

struct ClientRequest;
struct ClientReply;

// 1 with the decrypted payload in request->data; 0 when no request could be
// read or decrypted.
int logoffCookieAPI_SERVER_reader(ClientRequest* request);

// 1 when the encrypted reply was written; 0 when it could not be.
int logoffCookieAPI_SERVER_writer(ClientReply* reply);

// The name the trace gives an errno value.
const char* errnoName(int error);
