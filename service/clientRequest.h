// The per-connection records of the dispatcher.
#pragma once

#include "protocol/requestLayout.h"

inline constexpr int kReplyBufferSize = 1024;

struct ClientRequest {
    int descriptor;
    char data[kRequestCapacity];
    int count;  // bytes in data; after decryption the envelope's message length
};

struct ClientReply {
    int descriptor;  // -1 once the writer has closed the connection
    const char* reply;
    int count;
};

