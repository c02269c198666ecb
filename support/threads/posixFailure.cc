#include "support/threads/posixFailure.h"

#include <cerrno>
#include <string>

#include "support/threads/RWxmsg.h"

void throwPosixFailure(const char* operationPrefix, const char* callPrefix, int code) {
    throw RWTHRInternalError(std::string(operationPrefix) + callPrefix + errorText(code));
}

void throwInitFailure(const char* operationPrefix, const char* callPrefix, int code) {
    std::string prefix = std::string(operationPrefix) + callPrefix;
    if (code == EAGAIN) {
        throw RWTHRResourceLimit(prefix + "Insufficient system resources");
    }
    if (code == ENOMEM) {
        throw RWTHRResourceLimit(prefix + "Insufficient memory");
    }
    throw RWTHRInternalError(prefix + errorText(code));
}

void throwThreadCreationFailure(const char* callPrefix, int code) {
    std::string message = callPrefix + errorText(code);
    bool creating = std::string(callPrefix) == "pthread_create() - ";
    bool initialising = std::string(callPrefix) == "pthread_attr_init() - ";
    if (creating && code == EPERM) {
        throw RWTHRPermissionError(message);
    }
    if ((creating && (code == EAGAIN || code == ENOMEM)) || (initialising && code == ENOMEM)) {
        throw RWTHRResourceLimit(message);
    }
    throw RWTHRInternalError(message);
}
