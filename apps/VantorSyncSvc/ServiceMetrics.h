#pragma once

#include <string>

#include "metrics/MetricsServer.h"

// The service's metrics listener, with the store sizes read from the sync service at
// each scrape. Off unless an address is given (-Metrics=HOST:PORT or
// $VANTORSYNC_METRICS); the packaged unit asks for 127.0.0.1:9817.
class ServiceMetrics {
  public:
    static constexpr const char* kEnvironmentVariable = "VANTORSYNC_METRICS";

    ServiceMetrics();
    ~ServiceMetrics() { stop(); }

    // The address from the command line's -Metrics= switch, else from the environment;
    // empty when neither asks for metrics.
    static std::string requestedAddress(const std::string& commandLine);

    bool start(const std::string& address, std::string& error);
    void stop();
    std::string boundAddress() const { return server_.boundAddress(); }

  private:
    MetricsServer server_;
};
