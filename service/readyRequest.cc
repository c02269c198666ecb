#include "service/readyRequest.h"

#include <sys/ioctl.h>

#include "cache/logoffCookieCacheState.h"
#include "support/threads/RWxmsg.h"

bool requestIsReadyToAnswer(int fd) {
    int readable = 0;
    if (ioctl(fd, FIONREAD, &readable) != 0) {
        return false;
    }
    if (readable < kCompleteQueryTextLength || readable >= kCompleteAddTextLength) {
        return false;
    }
    // A writer that comes between this look and the query's read hold still
    // holds the loop up; the look spares it every pass already under way.
    try {
        RWReadersWriterLock::Snapshot cache = logoffCookieCacheLock.snapshot();
        return cache.holders >= 0 && cache.waitingWriters == 0;
    } catch (const RWxmsg&) {
        // The lock's own mutex failed: the connection thread meets it instead.
        return false;
    }
}
