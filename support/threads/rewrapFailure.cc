#include "support/threads/rewrapFailure.h"
#include "support/threads/forcedUnwind.h"

#include <string>

#include "support/threads/RWxmsg.h"

RW_CATCHES_FORCED_UNWIND
void rethrowAsInternalError(const char* prefix) {
    try {
        throw;
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (const RWTHRxmsg& failure) {
        throw RWTHRInternalError(std::string(prefix) + failure.message());
    } catch (...) {
        throw RWTHRInternalError(std::string(prefix) + "Unexpected exception");
    }
}
