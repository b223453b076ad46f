#include "apps/VantorSyncAdm/DialogToolkit.h"

namespace {

int compareIgnoringCase(const std::string& a, const std::string& b) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i) {
        int difference =
            lower(static_cast<unsigned char>(a[i])) - lower(static_cast<unsigned char>(b[i]));
        if (difference != 0)
            return difference;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace

int sortedRowPosition(const std::vector<std::string>& firstCells, const std::string& text) {
    int position = 0;
    for (const std::string& cell : firstCells) {
        if (compareIgnoringCase(cell, text) > 0)
            break;
        ++position;
    }
    return position;
}
