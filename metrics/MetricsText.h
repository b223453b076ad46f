#pragma once

#include <string>

#include "metrics/Metrics.h"

// The Prometheus text exposition format (version 0.0.4) of a metrics snapshot: what
// a scraper or "curl 127.0.0.1:9817/metrics" reads.
struct BuildLabels {
    std::string version;
    std::string buildType;
    std::string compiler;
};

std::string renderMetrics(const Metrics::Snapshot& snapshot, const BuildLabels& build);

// A label value with backslash, double quote and line feed escaped.
std::string escapeLabelValue(const std::string& value);
