// Whether the client loop may answer an accepted connection itself instead of
// handing it to a connection thread.
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

// True when the request of the connection `fd` can be answered on the loop
// without the loop waiting: at least a complete query's text is already
// readable, so the one read takes it at once and a silent or slow client never
// holds the loop; less than a complete add's, so the loop never takes the
// cache's write hold (an insert that grows the table holds it for a long time
// when a million cookies are cached); and no cleanup pass or insert holds or
// waits for the cache, so a query does not hold the loop up behind it.
bool requestIsReadyToAnswer(int fd);
