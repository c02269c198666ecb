// The names the trace gives errno values.
#pragma once

// The name of `error` ("EAGAIN", "EPIPE", ...) for the errors a connection's
// read or write meets; "Unspecified error" for any other.
const char* errnoName(int error);
