#include "crypto/logoffCookiePipe_crypt.h"

// Placeholder until the pipe encryption lands.
void setHashKeySeed() {}
