// The exception family through which every synchronization and thread
// operation reports failure. Each class keeps its own message text; copies
// made through rethrow() and copy() keep the class of the original.
#pragma once

#include <string>

class RWxmsg {
  public:
    explicit RWxmsg(const char* message);
    explicit RWxmsg(const std::string& message);
    RWxmsg(const RWxmsg& other);
    RWxmsg& operator=(const RWxmsg& other);
    virtual ~RWxmsg();

    virtual const char* message() const;
    [[noreturn]] virtual void rethrow() const;

  private:
    std::string text;
};

class RWTHRxmsg : public RWxmsg {
  public:
    explicit RWTHRxmsg(const char* message) : RWxmsg(message) {}
    explicit RWTHRxmsg(const std::string& message) : RWxmsg(message) {}
    RWTHRxmsg(const RWTHRxmsg& other) = default;

    [[noreturn]] void rethrow() const override;
    // A heap copy of the same class; the caller owns it.
    virtual RWTHRxmsg* copy() const;
};

// Every class below only adds its own identity to its base.
#define RW_THR_DECLARE_EXCEPTION(Name, Base)                              \
    class Name : public Base {                                            \
      public:                                                             \
        explicit Name(const char* message) : Base(message) {}             \
        explicit Name(const std::string& message) : Base(message) {}      \
        Name(const Name& other) = default;                                \
        [[noreturn]] void rethrow() const override { throw Name(*this); } \
        Name* copy() const override { return new Name(*this); }           \
    }

RW_THR_DECLARE_EXCEPTION(RWTHRInternalError, RWTHRxmsg);
RW_THR_DECLARE_EXCEPTION(RWTHRResourceLimit, RWTHRxmsg);
RW_THR_DECLARE_EXCEPTION(RWTHROperationCanceled, RWTHRxmsg);
RW_THR_DECLARE_EXCEPTION(RWTHROperationNotAvailable, RWTHRxmsg);
RW_THR_DECLARE_EXCEPTION(RWTHRClosedException, RWTHRxmsg);
RW_THR_DECLARE_EXCEPTION(RWTHRExternalError, RWTHRxmsg);
RW_THR_DECLARE_EXCEPTION(RWTHRIllegalUsage, RWTHRxmsg);

RW_THR_DECLARE_EXCEPTION(RWTHRPermissionError, RWTHRExternalError);

RW_THR_DECLARE_EXCEPTION(RWTHRBoundsError, RWTHRIllegalUsage);
RW_THR_DECLARE_EXCEPTION(RWTHRIllegalAccess, RWTHRIllegalUsage);
RW_THR_DECLARE_EXCEPTION(RWTHRInvalidPointer, RWTHRIllegalUsage);
RW_THR_DECLARE_EXCEPTION(RWTHROperationNotSupported, RWTHRIllegalUsage);
RW_THR_DECLARE_EXCEPTION(RWTHRThreadActive, RWTHRIllegalUsage);
RW_THR_DECLARE_EXCEPTION(RWTHRThreadNotActive, RWTHRIllegalUsage);

#undef RW_THR_DECLARE_EXCEPTION

// "Return Value: " and the system's text for a POSIX error code, or the code
// in decimal when the system has no text for it.
std::string errorText(int code);
