// Farm sharing: every host of a farm tells the others, through one Redis
// stream, of the logoffs recorded on it, and refuses the cookies they
// recorded. Answers stay local: no request ever waits for Redis.
#pragma once

#include "share/shareConfig.h"

// Installs the farm key and the add hook in the cache and starts the
// publishing and the receiving thread. Called once by the worker after the
// cache is initialised and before any request; takes the secret out of
// `config`.
void startFarmSharing(ShareConfig& config);
