// The client loop: accepts connections on the listening socket, within the
// bound of connection slots, and has each one served.
#pragma once

// Serves the listening descriptor for ever: a connection whose whole request
// is already there is answered on the loop, every other one on a connection
// thread of its own.
[[noreturn]] void logoffCookieService_clientLoop(int fd_socket);

// Makes the client loop start no more connection threads: called by the
// worker before it exits, so that the exit's thread shutdown and static
// destructors do not race with new connections. Returns once no launch is
// under way.
void logoffCookieService_stopAccepting();
