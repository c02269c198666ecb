#include "crypto/hostFacts.h"

#include <sys/sysinfo.h>
#include <sys/utsname.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

using UnameCall = int (*)(struct utsname*);
using SysinfoCall = int (*)(struct sysinfo*);

std::atomic<UnameCall> unameCall{&uname};
std::atomic<SysinfoCall> sysinfoCall{&sysinfo};

void writeText(const char* text, char* out, int* size) {
    size_t length = std::strlen(text);
    size_t room = *size > 0 ? static_cast<size_t>(*size) - 1 : 0;
    if (length > room) {
        length = room;
    }
    if (*size > 0) {
        std::memcpy(out, text, length);
        out[length] = '\0';
    }
    *size = static_cast<int>(length);
}

// The uname-based readers differ only in the field they copy and their fallback.
using UnameField = decltype(&utsname::machine);

int readUnameField(UnameField field, const char* fallback, char* out, int* size) {
    struct utsname names;
    std::memset(&names, 0, sizeof names);
    if (unameCall.load()(&names) != 0) {
        writeText(fallback, out, size);
        return 0;
    }
    // The field's last byte stays zero even if the call filled it to the brim.
    (names.*field)[sizeof(names.*field) - 1] = '\0';
    writeText(names.*field, out, size);
    return 1;
}

}  // namespace

int get_machine(char* out, int* size) {
    return readUnameField(&utsname::machine, "UNKNOWN", out, size);
}

int get_version(char* out, int* size) {
    return readUnameField(&utsname::version, "CANNOT_COMPUTE", out, size);
}

int get_hostname(char* out, int* size) {
    return readUnameField(&utsname::nodename, "DONT_KNOW", out, size);
}

int get_platform(char* out, int* size) {
    struct sysinfo info;
    std::memset(&info, 0, sizeof info);
    if (sysinfoCall.load()(&info) != 0) {
        writeText("CANNOTTELL", out, size);
        return 0;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%ld", static_cast<long>(info.totalswap));
    writeText(text, out, size);
    return 1;
}

void setHostFactCallsForTesting(int (*unameFn)(struct utsname*),
                                int (*sysinfoFn)(struct sysinfo*)) {
    unameCall.store(unameFn != nullptr ? unameFn : &uname);
    sysinfoCall.store(sysinfoFn != nullptr ? sysinfoFn : &sysinfo);
}
