// Clang's thread-safety attributes, under short names: the compiler then
// checks which lock guards what and which functions need it held. Other
// compilers see nothing.
#pragma once

#if defined(__clang__)
#define LC_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define LC_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) LC_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY LC_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) LC_THREAD_ATTRIBUTE(guarded_by(x))
#define PT_GUARDED_BY(x) LC_THREAD_ATTRIBUTE(pt_guarded_by(x))
#define REQUIRES(...) LC_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) LC_THREAD_ATTRIBUTE(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) LC_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) LC_THREAD_ATTRIBUTE(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) LC_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) LC_THREAD_ATTRIBUTE(release_shared_capability(__VA_ARGS__))
#define RELEASE_GENERIC(...) LC_THREAD_ATTRIBUTE(release_generic_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) LC_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define TRY_ACQUIRE_SHARED(...) LC_THREAD_ATTRIBUTE(try_acquire_shared_capability(__VA_ARGS__))
#define EXCLUDES(...) LC_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define RETURN_CAPABILITY(x) LC_THREAD_ATTRIBUTE(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS LC_THREAD_ATTRIBUTE(no_thread_safety_analysis)
