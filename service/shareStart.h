// Farm sharing as the service process sees it: the configuration is read by
// the launcher, so a bad one is refused before anything is forked, and
// sharing starts in the worker.
#pragma once

// Reads the sharing variables and draws this run's id; on a bad
// configuration, or with no random bytes to be had, writes one line to the
// trace and standard error and exits with 1.
void requireShareConfig();

// Starts sharing when it is configured; does nothing at all when not. Called
// by the worker after the cache is initialised.
void startConfiguredSharing();

// At an orderly stop, once no request is served any more: gives the
// publisher up to kShareStopFlush to hand what is still queued to Redis,
// when Redis is reachable and takes it. Does nothing without sharing.
void flushConfiguredSharing();

// In the monitor, right after the fork: the farm secret and the Redis
// passwords are the worker's alone, and the monitor lives as long.
void forgetShareSecrets();
