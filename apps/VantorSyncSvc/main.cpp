#include <string>

#include "apps/VantorSyncSvc/CommandLine.h"
#include "apps/VantorSyncSvc/VantorSyncSvcModule.h"

int main(int argc, char** argv) {
    CVantorSyncSvcModule module;
    return module.run(joinCommandLine(argc, argv));
}
