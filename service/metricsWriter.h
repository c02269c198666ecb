// The worker's writer of the metrics file named by VOKLOGOFFMETRICS.
#pragma once

// With VOKLOGOFFMETRICS set to a path: switches counting on and writes the
// file once, on the calling thread. Without it (or with it empty) nothing is
// counted or written, and the writer below never starts. A file that cannot
// be written is reported on standard error and in the trace; the service
// runs on. Called once by the worker, before it serves.
void logoffCookieService_initMetrics();

// After logoffCookieService_initMetrics() switched metrics on: rewrites the file
// every 10 seconds on a thread of its own, and once more when the worker
// exits. Called once the socket exists and the stop signals are blocked.
void logoffCookieService_startMetricsWriter();
