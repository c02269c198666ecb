// The per-connection records of the dispatcher.
#pragma once

#include "protocol/requestLayout.h"

class ClientConnection;

inline constexpr int kReplyBufferSize = 1024;

// Both records of a connection refer to its one owner, which reads and
// writes it; a step that finds it broken only says so, and the owner closes
// it when it goes.
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
