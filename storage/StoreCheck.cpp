#include "storage/StoreCheck.h"

#include "platform/FileSystem.h"
#include "storage/CommonTrainingDb.h"
#include "storage/CommonWhitelist.h"

namespace StoreCheck {

namespace {

using Problems = std::vector<std::string>;

void take(const Problems& found, Problems& problems) {
    problems.insert(problems.end(), found.begin(), found.end());
}

// An append still being written at the end of a file read while it grows is no problem.
void takeUnfinishedAppend(const Extent& extent, bool live, Problems& problems) {
    if (!live && !extent.unfinishedAppend.empty())
        problems.push_back(extent.unfinishedAppend);
}

void checkSetAside(const std::string& folder, Problems& problems) {
    const std::string prefix = std::string(CommonTrainingDb::kDataFileName) + ".damaged-";
    for (const std::string& name : FileSystem::listFolder(folder)) {
        if (name.rfind(prefix, 0) == 0) {
            problems.push_back(name + ": a damaged data file was set aside here at a load");
        }
    }
}

}  // namespace

void checkWhitelist(const std::string& folder, bool live, Extent& extent, Problems& problems) {
    take(CommonWhitelist::checkFiles(folder, &extent), problems);
    takeUnfinishedAppend(extent, live, problems);
}

void checkTrainingDb(const std::string& folder, bool live, Extent& extent, Problems& problems) {
    checkSetAside(folder, problems);
    // A load starts without one, but the server and a backup always write it.
    const std::string optionsName = CommonTrainingDb::kOptionsFileName;
    if (!FileSystem::fileExists(folder + optionsName))
        problems.push_back(optionsName + ": missing");
    take(CommonTrainingDb::checkFiles(folder, &extent), problems);
    takeUnfinishedAppend(extent, live, problems);
}

}  // namespace StoreCheck
