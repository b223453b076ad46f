#include "metrics/MetricsText.h"

#include <cinttypes>
#include <cstdio>

namespace {

constexpr const char* kCollections[] = {"whitelist", "training_db"};
constexpr const char* kOperations[] = {"pull", "push"};
constexpr const char* kResults[] = {"ok", "denied", "failed"};

class Writer {
  public:
    void header(const char* name, const char* type, const char* help) {
        text_ += std::string("# HELP ") + name + " " + help + "\n";
        text_ += std::string("# TYPE ") + name + " " + type + "\n";
    }
    void sample(const std::string& name, const std::string& labels, uint64_t value) {
        char number[32];
        std::snprintf(number, sizeof number, "%" PRIu64, value);
        line(name, labels, number);
    }
    void sample(const std::string& name, const std::string& labels, int64_t value) {
        char number[32];
        std::snprintf(number, sizeof number, "%" PRId64, value);
        line(name, labels, number);
    }
    void sample(const std::string& name, const std::string& labels, double value) {
        char number[40];
        std::snprintf(number, sizeof number, "%.9g", value);
        line(name, labels, number);
    }
    std::string take() { return std::move(text_); }

  private:
    void line(const std::string& name, const std::string& labels, const char* value) {
        text_ += name;
        if (!labels.empty())
            text_ += "{" + labels + "}";
        text_ += " ";
        text_ += value;
        text_ += "\n";
    }
    std::string text_;
};

std::string label(const char* name, const std::string& value) {
    return std::string(name) + "=\"" + escapeLabelValue(value) + "\"";
}

void writeSaveHistogram(Writer& out, const Metrics::Snapshot& snapshot) {
    const char* name = "vantorsync_store_save_seconds";
    out.header(
        name, "histogram",
        "Time of a push to the store: records applied, history trimmed, files written and synced.");
    for (int c = 0; c < 2; ++c) {
        const Metrics::SaveHistogram& histogram = snapshot.saves[c];
        std::string collection = label("collection", kCollections[c]);
        uint64_t cumulative = 0;
        for (size_t b = 0; b < Metrics::kSaveBuckets.size(); ++b) {
            cumulative += histogram.buckets[b];
            char bound[32];
            std::snprintf(bound, sizeof bound, "%g", Metrics::kSaveBuckets[b]);
            out.sample(std::string(name) + "_bucket", collection + "," + label("le", bound),
                       cumulative);
        }
        out.sample(std::string(name) + "_bucket", collection + "," + label("le", "+Inf"),
                   histogram.count);
        out.sample(std::string(name) + "_sum", collection, histogram.sumSeconds);
        out.sample(std::string(name) + "_count", collection, histogram.count);
    }
}

void writeStores(Writer& out, const Metrics::StoreSizes& stores) {
    out.header("vantorsync_store_keys", "gauge", "Distinct keys in the common whitelist.");
    out.sample("vantorsync_store_keys", label("collection", "whitelist"), stores.whitelistKeys);
    out.header("vantorsync_store_history_entries", "gauge",
               "Changes held in a collection's history (what clients can pull).");
    out.sample("vantorsync_store_history_entries", label("collection", "whitelist"),
               stores.whitelistHistory);
    out.sample("vantorsync_store_history_entries", label("collection", "training_db"),
               stores.trainingDbHistory);
    out.header("vantorsync_store_descriptors", "gauge",
               "Distinct message descriptors in the training database's record file.");
    out.sample("vantorsync_store_descriptors", label("collection", "training_db"),
               stores.trainingDbDescriptors);
    out.header("vantorsync_store_file_bytes", "gauge", "Size of each store file on disk.");
    for (const auto& [file, bytes] : stores.fileBytes)
        out.sample("vantorsync_store_file_bytes", label("file", file), bytes);
}

}  // namespace

std::string escapeLabelValue(const std::string& value) {
    std::string escaped;
    for (char c : value) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '"')
            escaped += "\\\"";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

std::string renderMetrics(const Metrics::Snapshot& snapshot, const BuildLabels& build) {
    Writer out;
    out.header("vantorsync_build_info", "gauge", "Version and build of the running server.");
    out.sample("vantorsync_build_info",
               label("version", build.version) + "," + label("build_type", build.buildType) + "," +
                   label("compiler", build.compiler),
               uint64_t{1});

    out.header("vantorsync_http_requests_total", "counter",
               "Sync port requests answered, by endpoint and status code.");
    for (const auto& [key, count] : snapshot.requests) {
        out.sample("vantorsync_http_requests_total",
                   label("endpoint", key.first) + "," + label("status", std::to_string(key.second)),
                   count);
    }
    out.header("vantorsync_http_received_bytes_total", "counter",
               "Request body bytes received on the sync port.");
    out.sample("vantorsync_http_received_bytes_total", "", snapshot.bytesIn);
    out.header("vantorsync_http_sent_bytes_total", "counter",
               "Response bytes (status line, fields and body) sent on the sync port.");
    out.sample("vantorsync_http_sent_bytes_total", "", snapshot.bytesOut);

    out.header("vantorsync_sync_operations_total", "counter",
               "Pulls and pushes by collection and result (denied: no access right).");
    for (int c = 0; c < 2; ++c) {
        for (int o = 0; o < 2; ++o) {
            for (int r = 0; r < 3; ++r) {
                out.sample("vantorsync_sync_operations_total",
                           label("collection", kCollections[c]) + "," +
                               label("operation", kOperations[o]) + "," +
                               label("result", kResults[r]),
                           snapshot.sync[c][o][r]);
            }
        }
    }
    writeSaveHistogram(out, snapshot);

    out.header("vantorsync_sync_serving", "gauge",
               "1 while the HTTP sync server accepts connections, 0 while it is not started.");
    out.sample("vantorsync_sync_serving", "", uint64_t{snapshot.syncServing ? 1u : 0u});
    out.header("vantorsync_open_connections", "gauge", "Client connections open on the sync port.");
    out.sample("vantorsync_open_connections", "", snapshot.openConnections);
    out.header("vantorsync_requests_closed_total", "counter",
               "Connections closed because a request took too long or outgrew its buffer budget.");
    out.sample("vantorsync_requests_closed_total", label("reason", "timeout"),
               snapshot.closedForTimeout);
    out.sample("vantorsync_requests_closed_total", label("reason", "budget"),
               snapshot.closedForBudget);
    if (snapshot.haveStores)
        writeStores(out, snapshot.stores);
    return out.take();
}
