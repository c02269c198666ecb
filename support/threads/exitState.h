// Whether the exit path has terminated a thread. Such a thread may have died
// holding a mutex or waiting on a condition; destroying those objects could
// then block or fail, so from that moment the synchronization classes leave
// their POSIX objects alone when destroyed. Internal to the threads library.
#pragma once

void noteThreadTerminatedAtExit();
bool threadTerminatedAtExit();
