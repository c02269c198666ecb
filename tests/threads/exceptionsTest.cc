#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <stdexcept>
#include <string>

#include "support/threads/RWxmsg.h"
#include "support/threads/posixFailure.h"
#include "support/threads/rewrapFailure.h"

namespace {

// Runs `thrower` and returns what it threw, as an RWTHRxmsg copy.
template <class Thrower>
std::unique_ptr<RWTHRxmsg> caught(Thrower thrower) {
    try {
        thrower();
    } catch (const RWTHRxmsg& failure) {
        return std::unique_ptr<RWTHRxmsg>(failure.copy());
    }
    return nullptr;
}

template <class Expected>
bool isA(const std::unique_ptr<RWTHRxmsg>& failure) {
    return dynamic_cast<Expected*>(failure.get()) != nullptr;
}

TEST(ErrorText, GivesTheSystemsTextOrTheNumber) {
    EXPECT_EQ(errorText(EINVAL), "Return Value: Invalid argument");
    EXPECT_EQ(errorText(987654), "Return Value: 987654");
}

TEST(Exceptions, CopyAndRethrowKeepTheClassAndText) {
    RWTHRThreadActive active("already running");
    const RWTHRxmsg& asBase = active;
    std::unique_ptr<RWTHRxmsg> copy(asBase.copy());
    EXPECT_TRUE(isA<RWTHRThreadActive>(copy));
    EXPECT_STREQ(copy->message(), "already running");
    EXPECT_THROW(asBase.rethrow(), RWTHRThreadActive);

    RWTHRPermissionError permission(std::string("no"));
    const RWxmsg& root = permission;
    EXPECT_THROW(root.rethrow(), RWTHRExternalError);
    EXPECT_THROW(RWxmsg("plain").rethrow(), RWxmsg);
}

TEST(PosixFailures, InitialisationFailuresSayWhatRanOut) {
    auto failure =
        caught([] { throwInitFailure("RWMutexLock::init - ", "pthread_mutex_init() - ", EAGAIN); });
    EXPECT_TRUE(isA<RWTHRResourceLimit>(failure));
    EXPECT_STREQ(failure->message(),
                 "RWMutexLock::init - pthread_mutex_init() - Insufficient system resources");

    failure =
        caught([] { throwInitFailure("RWCondition::init - ", "pthread_cond_init() - ", ENOMEM); });
    EXPECT_TRUE(isA<RWTHRResourceLimit>(failure));
    EXPECT_STREQ(failure->message(),
                 "RWCondition::init - pthread_cond_init() - Insufficient memory");

    failure =
        caught([] { throwInitFailure("RWCondition::init - ", "pthread_cond_init() - ", EBUSY); });
    EXPECT_TRUE(isA<RWTHRInternalError>(failure));
    EXPECT_STREQ(failure->message(),
                 "RWCondition::init - pthread_cond_init() - Return Value: Device or resource busy");
}

TEST(PosixFailures, OtherCallsFailAsInternalErrors) {
    auto failure = caught([] {
        throwPosixFailure("RWMutexLock::~RWMutexLock - ", "phthread_mutex_destroy() - ", EBUSY);
    });
    EXPECT_TRUE(isA<RWTHRInternalError>(failure));
    EXPECT_STREQ(failure->message(),
                 "RWMutexLock::~RWMutexLock - phthread_mutex_destroy() - Return Value: Device or "
                 "resource busy");
}

TEST(PosixFailures, ThreadCreationFailuresHaveTheirOwnClasses) {
    auto failure = caught([] { throwThreadCreationFailure("pthread_create() - ", EPERM); });
    EXPECT_TRUE(isA<RWTHRPermissionError>(failure));
    EXPECT_STREQ(failure->message(), "pthread_create() - Return Value: Operation not permitted");

    failure = caught([] { throwThreadCreationFailure("pthread_create() - ", EAGAIN); });
    EXPECT_TRUE(isA<RWTHRResourceLimit>(failure));
    EXPECT_STREQ(failure->message(),
                 "pthread_create() - Return Value: Resource temporarily unavailable");

    failure = caught([] { throwThreadCreationFailure("pthread_create() - ", EINVAL); });
    EXPECT_TRUE(isA<RWTHRInternalError>(failure));

    failure = caught([] { throwThreadCreationFailure("pthread_attr_init() - ", ENOMEM); });
    EXPECT_TRUE(isA<RWTHRResourceLimit>(failure));
    EXPECT_STREQ(failure->message(), "pthread_attr_init() - Return Value: Cannot allocate memory");

    failure =
        caught([] { throwThreadCreationFailure("pthread_attr_setdetachstate() - ", EINVAL); });
    EXPECT_TRUE(isA<RWTHRInternalError>(failure));
    EXPECT_STREQ(failure->message(),
                 "pthread_attr_setdetachstate() - Return Value: Invalid argument");
}

TEST(PosixFailures, LockOperationsRewrapTheirConditionsFailures) {
    auto failure = caught([] {
        try {
            throw RWTHRResourceLimit("RWCondition::wait - pthread_cond_wait() - detail");
        } catch (...) {
            rethrowAsInternalError("RWReadersWriterLock::acquireRead - ");
        }
    });
    EXPECT_TRUE(isA<RWTHRInternalError>(failure));
    EXPECT_STREQ(
        failure->message(),
        "RWReadersWriterLock::acquireRead - RWCondition::wait - pthread_cond_wait() - detail");

    failure = caught([] {
        try {
            throw std::runtime_error("foreign");
        } catch (...) {
            rethrowAsInternalError("RWReadersWriterLock::release - ");
        }
    });
    EXPECT_TRUE(isA<RWTHRInternalError>(failure));
    EXPECT_STREQ(failure->message(), "RWReadersWriterLock::release - Unexpected exception");
}

}  // namespace
