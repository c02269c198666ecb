// The warm restart as the service process sees it: the configuration is read
// by the launcher, so a bad one is refused before anything is forked; the
// worker loads the state before its socket exists and saves it at an
// orderly stop. With VOKLOGOFFSTATE unset none of it does anything.
#pragma once

// Reads the state variables; on a bad configuration writes one line to the
// trace and standard error and exits with 1.
void requireStateConfig();

// In the worker, after the cache and the host key seed are initialised and
// before the socket is created: takes the state file back when it is good.
void loadConfiguredState();

// In the worker, once the stop signals are blocked and sharing has started:
// starts what a warm start needs running (the cleanup thread for the cookies
// taken back) and queues the saved logoffs for the farm again, those of a
// state file too old to restore the cache included, and those an earlier
// stop kept in the farm queue's file.
void resumeConfiguredState();

// On the worker's orderly stop, once no connection is accepted any more:
// waits (boundedly) for every accepted connection to be answered and closed,
// then saves the state with the receiver's position and the publish queue.
// Saves nothing when a connection outlasts the wait: a logoff it recorded
// after the save would be forgotten. The logoffs still queued for the farm
// that no state file took go to the farm queue's file in WA_INSTALL_PATH,
// whether warm restarts are on or not.
void saveConfiguredState();
