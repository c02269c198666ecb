#include "bench/detachedThread.h"

#include <pthread.h>
#include <sched.h>

int startDetachedThread(void* (*entry)(void*), void* argument, bool onThisProcessor) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (onThisProcessor) {
        cpu_set_t here;
        CPU_ZERO(&here);
        CPU_SET(sched_getcpu(), &here);
        pthread_attr_setaffinity_np(&attributes, sizeof here, &here);
    }
    pthread_t thread;
    int result = pthread_create(&thread, &attributes, entry, argument);
    pthread_attr_destroy(&attributes);
    return result;
}
