// The metrics as text in the Prometheus exposition format (version 0.0.4),
// the format the node exporter's textfile collector reads.
#pragma once

#include <string>

// Every metric with its HELP and TYPE lines, families in a fixed order.
std::string metrics_renderText();
