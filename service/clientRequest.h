// The per-connection records of the dispatcher.
#pragma once

#include "protocol/requestLayout.h"

class ClientConnection;

inline constexpr int kReplyBufferSize = 1024;

// Both records of a connection refer to its one owner: whichever step finds
// the connection broken closes it there, and the owner knows it is closed.
struct ClientRequest {
    ClientConnection* connection;
    char data[kRequestCapacity];
    int count;  // bytes in data; after decryption the envelope's message length
};

struct ClientReply {
    ClientConnection* connection;
    const char* reply;
    int count;
};
