#include "support/threads/RWxmsg.h"

#include <cstring>

RWxmsg::RWxmsg(const char* message) : text(message) {}

RWxmsg::RWxmsg(const std::string& message) : text(message) {}

RWxmsg::RWxmsg(const RWxmsg& other) = default;

RWxmsg& RWxmsg::operator=(const RWxmsg& other) = default;

RWxmsg::~RWxmsg() = default;

const char* RWxmsg::message() const {
    return text.c_str();
}

void RWxmsg::rethrow() const {
    throw RWxmsg(*this);
}

void RWTHRxmsg::rethrow() const {
    throw RWTHRxmsg(*this);
}

RWTHRxmsg* RWTHRxmsg::copy() const {
    return new RWTHRxmsg(*this);
}

std::string errorText(int code) {
    // strerrordesc_np gives no text for unknown codes (strerror would make one
    // up) and, unlike strerror, is safe to call from several threads.
    const char* description = strerrordesc_np(code);
    if (description == nullptr) {
        return "Return Value: " + std::to_string(code);
    }
    return std::string("Return Value: ") + description;
}
