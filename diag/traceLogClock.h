// Where the trace log takes the time of its lines from. The service always
// uses the real clock; tests set a fixed time to check how it is written.
#pragma once

#include <ctime>

using TraceLogClock = timespec (*)();

// Lines written from now on carry `clock`'s time; nullptr restores the real
// clock (CLOCK_REALTIME). Safe to call while other threads trace.
void setTraceLogClock(TraceLogClock clock);
