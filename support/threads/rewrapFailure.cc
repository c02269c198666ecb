#include "support/threads/rewrapFailure.h"

#include <cxxabi.h>

#include <string>

#include "support/threads/RWxmsg.h"

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
