// What the cache's benchmark programs share around their benchmarks.
#pragma once

// Starts the logoff cookie cache with a cleanup thread that returns at once:
// no 240-second pass runs under a measurement, and a benchmark that measures
// passes drives them by hand.
void startCacheWithoutCleanupLoop();

// Runs the benchmarks the command line selects; 1 without running any when
// an argument is not one the benchmark library knows, else 0.
int runBenchmarks(int argc, char** argv);
