// A TCP port on 127.0.0.1 for a server a test starts.
#pragma once

namespace lctest {

// A port nothing listens on at this moment, or 0. Another process may take
// it before the server does: callers try again with another.
int freeLocalPort();

}  // namespace lctest
