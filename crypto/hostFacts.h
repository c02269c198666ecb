// The four host facts the pipe key is derived from. Each reader writes a
// zero-terminated text and its length; when the system call behind it fails
// it writes a fixed fallback text instead, which enters the key all the same.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

struct utsname;
struct sysinfo;

// `size` holds the buffer's size on entry and the text's length (without the
// terminator) on return; a text longer than the buffer is cut to fit.
// Return 1 when the system call succeeded, 0 when the fallback was written.
int get_machine(char* out, int* size);   // machine (hardware) name, else "UNKNOWN"
int get_version(char* out, int* size);   // operating system version, else "CANNOT_COMPUTE"
int get_platform(char* out, int* size);  // total swap size ("%ld"), else "CANNOTTELL"
int get_hostname(char* out, int* size);  // network node name, else "DONT_KNOW"

// Test hook: the readers call these instead of the system's uname and
// sysinfo; a null pointer restores the system's call.
void setHostFactCallsForTesting(int (*unameCall)(struct utsname*),
                                int (*sysinfoCall)(struct sysinfo*));

#ifdef __cplusplus
}
#endif
