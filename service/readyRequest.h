// What the client loop looks at before it answers an accepted connection
// itself instead of handing it to a connection thread.
#pragma once

#include "protocol/requestLayout.h"

// Characters of envelope text that carry a payload of `payloadSize` bytes:
// the envelope block spans the payload and 49 bytes more, in base64.
constexpr int envelopeTextLength(size_t payloadSize) {
    return static_cast<int>(4 * ((payloadSize + 49 + 2) / 3));
}

// The text of a complete query, the shortest complete request, and of a
// complete add.
inline constexpr int kCompleteQueryTextLength = envelopeTextLength(kQueryPayloadSize);
inline constexpr int kCompleteAddTextLength = envelopeTextLength(kAddPayloadSize);
static_assert(kCompleteQueryTextLength == 1372 && kCompleteAddTextLength == 1384);

// The bytes already received on the connection `fd` (FIONREAD), or 0 when
// that cannot be told. The loop looks at no more than these: reading more
// could take the rest of an add that arrived meanwhile and answer it on the
// loop, whose inserts may wait for the cache's write hold.
int bytesAlreadyReceived(int fd);
