// What the export reader takes, exactly: integers at the edges of their ranges without
// rounding, any split of the input, blanks, CR LF and a last line without its end. Its
// refusals are checked end to end, through VantorSyncCtl, in export_import_test.py.
#include <gtest/gtest.h>

#include <string>

#include "storage/ExportReader.h"
#include "tests/support/ExportEcho.h"

namespace {

const std::string kHeader = "{\"format\":\"vantorsync-export\",\"version\":1}\n";

}  // namespace

TEST(ExportReader, TakesExactIntegersInAnySplitAndLayout) {
    struct Case {
        const char* name;
        std::string input;
        std::string records;  // as the writer writes them
    };
    const std::string wl = "{\"section\":\"whitelist\",\"index\":4294967295}\n";
    const std::string ts = "{\"section\":\"trainingdb\",\"index\":0}\n";
    const Case cases[] = {
        {"edges of int64",
         kHeader + wl + "{\"key\":-9223372036854775808}\n{\"key\":9223372036854775807}\n" +
             "{\"key\":9007199254740993}\n{\"key\":-0}\n{\"end\":\"whitelist\",\"records\":4}\n",
         wl + "{\"key\":-9223372036854775808}\n{\"key\":9223372036854775807}\n" +
             "{\"key\":9007199254740993}\n{\"key\":0}\n{\"end\":\"whitelist\",\"records\":4}\n"},
        {"blanks, CR LF, no last line end",
         "{ \"format\" : \"vantorsync-export\" ,\t\"version\":1 }\r\n" + ts +
             "{\"values\" : [ 1 , -2 ] , \"label\" : 4294967295}\r\n{\"label\":0,\"values\":[]}\n"
             "{\"end\":\"trainingdb\",\"records\":2}",
         ts + "{\"label\":4294967295,\"values\":[1,-2]}\n{\"label\":0,\"values\":[]}\n" +
             "{\"end\":\"trainingdb\",\"records\":2}\n"},
        {"header alone", kHeader, ""},
    };
    for (const Case& c : cases) {
        for (size_t piece : {c.input.size(), size_t(1), size_t(7)}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
            ExportEcho echo;
            ExportReader reader(echo);
            for (size_t at = 0; at < c.input.size(); at += piece)
                ASSERT_TRUE(reader.feed(c.input.data() + at, std::min(piece, c.input.size() - at)))
                    << reader.error();
            ASSERT_TRUE(reader.finish()) << reader.error();
            EXPECT_EQ(echo.text, c.records);
        }
    }
}
