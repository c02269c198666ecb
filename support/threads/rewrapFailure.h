// Inside a catch block: throws the caught failure again as an
// RWTHRInternalError whose text is `prefix` followed by the caught message
// ("Unexpected exception" for anything outside the RWTHRxmsg family). Thread
// cancellation passes through untouched. Internal to the threads library.
#pragma once

[[noreturn]] void rethrowAsInternalError(const char* prefix);
