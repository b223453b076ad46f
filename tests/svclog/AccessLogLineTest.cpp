// Whatever a client puts into its host name, method or path, an access line splits at
// blanks into the same seven columns, and each column reads back to what was sent.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "apps/VantorSyncSvc/AccessLogLine.h"

namespace {

std::vector<std::string> columns(const std::string& line) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(line);
    while (std::getline(in, part, ' '))
        parts.push_back(part);
    return parts;
}

std::string unescape(const std::string& column) {
    if (column == "-")
        return "";
    std::string value;
    for (size_t i = 0; i < column.size(); ++i) {
        if (column[i] == '\\') {
            value.push_back(static_cast<char>(std::stoi(column.substr(i + 2, 2), nullptr, 16)));
            i += 3;
        } else {
            value.push_back(column[i]);
        }
    }
    return value;
}

}  // namespace

TEST(AccessLogLine, ClientTextCannotForgeColumns) {
    const std::string hosts[] = {
        "ws1 POST /post_wl_updates 200 9 0",
        "ws1\r\n12:00:00 10.0.0.9 ws2 POST",
        "",
        "-",
        "50%20off",
        std::string("nul\0byte", 8),
        "\xc3\xa4rger\t\"x\"",
    };
    for (const std::string& host : hosts) {
        AccessLogLine line{"127.0.0.1", host, "GET", "/get wl updates", 200, 0, 9};
        std::vector<std::string> parts = columns(line.text());
        ASSERT_EQ(parts.size(), 7u) << line.text();
        EXPECT_EQ(unescape(parts[1]), host);
        EXPECT_EQ(unescape(parts[3]), "/get wl updates");
        EXPECT_EQ(parts[6], "9");
    }
    // Ordinary lines, UTF-8 names among them, are written exactly as they always were.
    AccessLogLine plain{"10.0.0.5", "b\xc3\xbcro", "POST", "/post_wl_updates", 200, 90, 0};
    EXPECT_EQ(plain.text(), "10.0.0.5 b\xc3\xbcro POST /post_wl_updates 200 90 0");
}
