#include "apps/VantorSyncCtl/CtlArguments.h"

#include <map>

const char* const kCtlUsage =
    "Usage: VantorSyncCtl [--bus session|system] COMMAND\n"
    "Manages a running VantorSyncSvc through its management interface.\n"
    "\n"
    "Commands:\n"
    "  status               print \"running\" or \"stopped\" (the HTTP sync server)\n"
    "  start                start the HTTP sync server\n"
    "  stop                 stop the HTTP sync server (the service keeps running)\n"
    "  stats                print the sizes of the common whitelist and training database\n"
    "  config get [FILE]    write config.xml to FILE or to standard output\n"
    "  config put FILE      replace config.xml with FILE and load it\n"
    "  clear-whitelist      empty the common whitelist\n"
    "  clear-training-db    empty the common training database\n"
    "  folder               print the service's data folder\n"
    "  trusted-proxies      print the proxies whose PROXY headers are taken\n"
    "  trusted-proxies set [ADDRESS|PREFIX ...]\n"
    "                       replace them (none: trust no proxy)\n"
    "  export DIR|-         write the whitelist and training database as JSON Lines to\n"
    "                       DIR/whitelist.jsonl and DIR/trainingdb.jsonl (new files), or\n"
    "                       both to standard output\n"
    "  import FILE|-        push the records of an export file (or standard input)\n"
    "  backup DIR           copy both stores and config.xml into the new folder DIR while\n"
    "                       the server serves; DIR must not exist\n"
    "  verify [DIR]         check the backup in DIR, or the live data folder; one line\n"
    "                       per problem, exit 0 only when sound\n"
    "  restore DIR          verify DIR, then replace the live data with it (the old files\n"
    "                       are kept aside); clients resynchronise from then on\n"
    "  listen [ADDRESS...]  print the addresses the sync server listens on, or set them\n"
    "                       (numeric IPv4/IPv6, such as 0.0.0.0 ::); used from its next start\n"
    "\n"
    "  --help, --version    print this text or the version and exit\n"
    "\n"
    "The bus is the system bus unless --bus or $VANTORSYNC_BUS says otherwise.\n"
    "Exit status: 0 on success, 1 when the operation failed, 2 for a usage error.\n";

namespace {

using Action = CtlArguments::Action;

const std::map<std::string, Action> kSimpleCommands = {
    {"status", Action::Status},
    {"start", Action::Start},
    {"stop", Action::Stop},
    {"stats", Action::Stats},
    {"clear-whitelist", Action::ClearWhitelist},
    {"clear-training-db", Action::ClearTrainingDb},
    {"folder", Action::Folder},
};

CtlArguments failed(std::string message) {
    CtlArguments result;
    result.error = std::move(message);
    return result;
}

}  // namespace

CtlArguments parseCtlArguments(const std::vector<std::string>& arguments) {
    CtlArguments result;
    std::optional<std::string> busText;
    std::vector<std::string> words;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            result.action = Action::Help;
            return result;
        }
        if (argument == "--version") {
            result.action = Action::Version;
            return result;
        }
        if (argument == "--bus") {
            if (i + 1 == arguments.size())
                return failed("--bus needs session or system");
            busText = arguments[++i];
        } else if (argument.rfind("--bus=", 0) == 0) {
            busText = argument.substr(6);
        } else if (argument.size() > 1 && argument[0] == '-') {
            return failed("unknown option " + argument);
        } else {
            words.push_back(argument);
        }
    }

    std::optional<ManagementBus::BusKind> bus =
        busText ? ManagementBus::parseBusKind(*busText) : ManagementBus::busKindFromEnvironment();
    if (!bus || *bus == ManagementBus::BusKind::None) {
        return failed(
            "the bus must be session or system" +
            (busText ? " (not \"" + *busText + "\")" : std::string(" ($VANTORSYNC_BUS)")));
    }
    result.bus = *bus;

    if (words.empty())
        return failed("no command given");
    auto simple = kSimpleCommands.find(words[0]);
    if (simple != kSimpleCommands.end()) {
        if (words.size() != 1)
            return failed(words[0] + " takes no arguments");
        result.action = simple->second;
        return result;
    }
    if (words[0] == "trusted-proxies") {
        if (words.size() == 1) {
            result.action = Action::ProxiesGet;
            return result;
        }
        if (words[1] != "set")
            return failed("use \"trusted-proxies\" or \"trusted-proxies set [ADDRESS ...]\"");
        result.action = Action::ProxiesSet;
        result.proxies.assign(words.begin() + 2, words.end());
        return result;
    }
    if (words[0] == "export" || words[0] == "import") {
        if (words.size() != 2)
            return failed("use \"export DIR|-\" or \"import FILE|-\"");
        result.action = words[0] == "export" ? Action::Export : Action::Import;
        result.file = words[1];
        return result;
    }
    const std::map<std::string, Action> folderCommands = {
        {"backup", Action::Backup}, {"verify", Action::Verify}, {"restore", Action::Restore}};
    auto withFolder = folderCommands.find(words[0]);
    if (withFolder != folderCommands.end()) {
        const bool optional = withFolder->second == Action::Verify;
        if (words.size() > 2 || (words.size() == 1 && !optional))
            return failed(words[0] + (optional ? " takes at most a folder" : " needs a folder"));
        result.action = withFolder->second;
        if (words.size() == 2)
            result.file = words[1];
        return result;
    }
    if (words[0] == "listen") {
        result.action = words.size() == 1 ? Action::ListenShow : Action::ListenSet;
        for (size_t i = 1; i < words.size(); ++i)
            result.listen += (i > 1 ? "," : "") + words[i];
        return result;
    }
    if (words[0] != "config")
        return failed("unknown command " + words[0]);
    if (words.size() >= 2 && words[1] == "get" && words.size() <= 3) {
        result.action = Action::ConfigGet;
        if (words.size() == 3)
            result.file = words[2];
        return result;
    }
    if (words.size() == 3 && words[1] == "put") {
        result.action = Action::ConfigPut;
        result.file = words[2];
        return result;
    }
    return failed("use \"config get [FILE]\" or \"config put FILE\"");
}
