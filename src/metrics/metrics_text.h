// The Prometheus text exposition of a metrics snapshot, as the textfile
// collectors of node_exporter and windows_exporter read it.
#pragma once

#include <string>

#include "metrics/metrics.h"

namespace qov::metrics {

// Every metric with its HELP and TYPE lines, every label value always
// present; lines end in "\n" (the collectors reject "\r\n").
std::string FormatMetrics(const Snapshot& s);

}  // namespace qov::metrics
