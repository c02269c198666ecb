// The pipe key derived from host facts, and the envelope around every message.
#pragma once

// Builds the process-wide host key seed. Called once by the worker at start.
void setHashKeySeed();
