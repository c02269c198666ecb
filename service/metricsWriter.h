// The worker's writer of the metrics file named by VOKLOGOFFMETRICS.
#pragma once

// With VOKLOGOFFMETRICS set to a path: switches counting on, writes the file
// at once and then every 10 seconds on a thread of its own, and once more
// when the worker exits. Without it (or with it empty) nothing is counted,
// written or started. Called once, by the worker, before it serves.
void logoffCookieAPI_startMetricsWriter();
