#include <cstdio>

int main() {
    std::printf("VantorSyncSvc: the sync server is not built yet.\n");
    return 0;
}
