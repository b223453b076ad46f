#pragma once

#include <string>
#include <vector>

#include <prometheus/metric_family.h>

#include "metrics/Metrics.h"

// A metrics snapshot as Prometheus metric families, and their text exposition format
// (version 0.0.4, written by prometheus-cpp): what a scraper or
// "curl 127.0.0.1:9817/metrics" reads.
struct BuildLabels {
    std::string version;
    std::string buildType;
    std::string compiler;
};

std::vector<prometheus::MetricFamily> metricFamilies(const Metrics::Snapshot& snapshot,
                                                     const BuildLabels& build);
std::string renderMetrics(const Metrics::Snapshot& snapshot, const BuildLabels& build);
