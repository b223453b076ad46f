#include "metrics/MetricsText.h"

#include <limits>

#include <prometheus/text_serializer.h>

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

namespace {

constexpr const char* kCollections[] = {"whitelist", "training_db"};
constexpr const char* kOperations[] = {"pull", "push"};
constexpr const char* kResults[] = {"ok", "denied", "failed"};

class Families {
  public:
    void begin(const char* name, MetricType type, const char* help) {
        families_.push_back(MetricFamily{name, help, type, {}});
    }
    // One sample of the family begun last; counters and gauges alike.
    void add(std::vector<ClientMetric::Label> labels, double value) {
        ClientMetric metric;
        metric.label = std::move(labels);
        if (families_.back().type == MetricType::Counter)
            metric.counter.value = value;
        else
            metric.gauge.value = value;
        families_.back().metric.push_back(std::move(metric));
    }
    void addHistogram(std::vector<ClientMetric::Label> labels, ClientMetric::Histogram histogram) {
        ClientMetric metric;
        metric.label = std::move(labels);
        metric.histogram = std::move(histogram);
        families_.back().metric.push_back(std::move(metric));
    }
    std::vector<MetricFamily> take() { return std::move(families_); }

  private:
    std::vector<MetricFamily> families_;
};

double number(uint64_t value) {
    return static_cast<double>(value);
}

void addSaveHistogram(Families& out, const Metrics::Snapshot& snapshot) {
    out.begin("vantorsync_store_save_seconds", MetricType::Histogram,
              "Time of one commit of a collection, which makes every push waiting at its start "
              "durable at once: records written, history trimmed, files synced.");
    for (int c = 0; c < 2; ++c) {
        const Metrics::SaveHistogram& saves = snapshot.saves[c];
        ClientMetric::Histogram histogram;
        histogram.sample_count = saves.count;
        histogram.sample_sum = saves.sumSeconds;
        uint64_t cumulative = 0;
        for (size_t b = 0; b < Metrics::kSaveBuckets.size(); ++b) {
            cumulative += saves.buckets[b];
            histogram.bucket.push_back({cumulative, Metrics::kSaveBuckets[b]});
        }
        histogram.bucket.push_back({saves.count, std::numeric_limits<double>::infinity()});
        out.addHistogram({{"collection", kCollections[c]}}, std::move(histogram));
    }
}

void addStores(Families& out, const Metrics::StoreSizes& stores) {
    out.begin("vantorsync_store_keys", MetricType::Gauge, "Distinct keys in the common whitelist.");
    out.add({{"collection", "whitelist"}}, number(stores.whitelistKeys));
    out.begin("vantorsync_store_history_entries", MetricType::Gauge,
              "Changes held in a collection's history (what clients can pull).");
    out.add({{"collection", "whitelist"}}, number(stores.whitelistHistory));
    out.add({{"collection", "training_db"}}, number(stores.trainingDbHistory));
    out.begin("vantorsync_store_descriptors", MetricType::Gauge,
              "Distinct message descriptors in the training database's record file.");
    out.add({{"collection", "training_db"}}, number(stores.trainingDbDescriptors));
    out.begin("vantorsync_store_file_bytes", MetricType::Gauge, "Size of each store file on disk.");
    for (const auto& [file, bytes] : stores.fileBytes)
        out.add({{"file", file}}, number(bytes));
}

}  // namespace

std::vector<MetricFamily> metricFamilies(const Metrics::Snapshot& snapshot,
                                         const BuildLabels& build) {
    Families out;
    out.begin("vantorsync_build_info", MetricType::Gauge,
              "Version and build of the running server.");
    out.add(
        {{"version", build.version}, {"build_type", build.buildType}, {"compiler", build.compiler}},
        1);

    out.begin("vantorsync_http_requests_total", MetricType::Counter,
              "Sync port requests answered, by endpoint and status code.");
    for (const auto& [key, count] : snapshot.requests)
        out.add({{"endpoint", key.first}, {"status", std::to_string(key.second)}}, number(count));
    out.begin("vantorsync_http_received_bytes_total", MetricType::Counter,
              "Request body bytes received on the sync port.");
    out.add({}, number(snapshot.bytesIn));
    out.begin("vantorsync_http_sent_bytes_total", MetricType::Counter,
              "Response bytes (status line, fields and body) sent on the sync port.");
    out.add({}, number(snapshot.bytesOut));

    out.begin("vantorsync_sync_operations_total", MetricType::Counter,
              "Pulls and pushes by collection and result (denied: no access right).");
    for (int c = 0; c < 2; ++c) {
        for (int o = 0; o < 2; ++o) {
            for (int r = 0; r < 3; ++r) {
                out.add({{"collection", kCollections[c]},
                         {"operation", kOperations[o]},
                         {"result", kResults[r]}},
                        number(snapshot.sync[c][o][r]));
            }
        }
    }
    addSaveHistogram(out, snapshot);

    out.begin("vantorsync_sync_serving", MetricType::Gauge,
              "1 while the HTTP sync server accepts connections, 0 while it is not started.");
    out.add({}, snapshot.syncServing ? 1.0 : 0.0);
    out.begin("vantorsync_open_connections", MetricType::Gauge,
              "Client connections open on the sync port.");
    out.add({}, static_cast<double>(snapshot.openConnections));
    out.begin("vantorsync_requests_closed_total", MetricType::Counter,
              "Connections closed because a request took too long or outgrew its buffer budget.");
    out.add({{"reason", "timeout"}}, number(snapshot.closedForTimeout));
    out.add({{"reason", "budget"}}, number(snapshot.closedForBudget));
    out.begin("vantorsync_connections_closed_total", MetricType::Counter,
              "Connections closed to keep the sync port open to every client: no request "
              "within the header time-out, idle at the connection cap, over the per-address "
              "share, a PROXY header refused.");
    out.add({{"reason", "header_timeout"}}, number(snapshot.closedForHeaderTimeout));
    out.add({{"reason", "idle_at_cap"}}, number(snapshot.closedIdleAtCap));
    out.add({{"reason", "address_cap"}}, number(snapshot.refusedForAddressCap));
    out.add({{"reason", "proxy_header"}}, number(snapshot.refusedProxyHeader));
    out.begin("vantorsync_last_backup_timestamp_seconds", MetricType::Gauge,
              "When the last successful backup was taken (seconds since the epoch; 0: none "
              "since the service started).");
    out.add({}, snapshot.lastBackupTime);
    out.begin("vantorsync_last_backup_size_bytes", MetricType::Gauge,
              "Bytes of the store files, config.xml and manifest of the last successful backup.");
    out.add({}, static_cast<double>(snapshot.lastBackupBytes));
    if (snapshot.haveStores)
        addStores(out, snapshot.stores);
    return out.take();
}

std::string renderMetrics(const Metrics::Snapshot& snapshot, const BuildLabels& build) {
    return prometheus::TextSerializer().Serialize(metricFamilies(snapshot, build));
}
