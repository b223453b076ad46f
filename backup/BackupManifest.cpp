#include "backup/BackupManifest.h"

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::json;

Json storeJson(const BackupManifest::Store& store) {
    return Json{{"history_base", store.historyBase},
                {"end_index", store.end},
                {"highest_index_handed_out", store.highestIndex}};
}

BackupManifest::Store storeFrom(const Json& json) {
    BackupManifest::Store store;
    store.historyBase = json.at("history_base").get<uint32_t>();
    store.end = json.at("end_index").get<uint32_t>();
    store.highestIndex = json.at("highest_index_handed_out").get<uint32_t>();
    return store;
}

}  // namespace

std::string BackupManifest::toJson() const {
    Json list = Json::array();
    for (const File& file : files)
        list.push_back(Json{{"name", file.name}, {"size", file.size}, {"sha256", file.sha256}});
    Json json{{"format_version", formatVersion},
              {"created", created},
              {"whitelist", storeJson(whitelist)},
              {"training_db", storeJson(trainingDb)},
              {"files", list}};
    return json.dump(2) + "\n";
}

bool BackupManifest::parse(const std::string& text, BackupManifest& manifest, std::string& why) {
    try {
        const Json json = Json::parse(text);
        BackupManifest read;
        read.formatVersion = json.at("format_version").get<int>();
        if (read.formatVersion != kFormatVersion) {
            why = "format version " + std::to_string(read.formatVersion) + " is not " +
                  std::to_string(kFormatVersion);
            return false;
        }
        read.created = json.at("created").get<std::string>();
        read.whitelist = storeFrom(json.at("whitelist"));
        read.trainingDb = storeFrom(json.at("training_db"));
        for (const Json& file : json.at("files")) {
            read.files.push_back(File{file.at("name").get<std::string>(),
                                      file.at("size").get<uint64_t>(),
                                      file.at("sha256").get<std::string>()});
        }
        manifest = std::move(read);
        return true;
    } catch (const std::exception& error) {
        why = error.what();
        return false;
    }
}
