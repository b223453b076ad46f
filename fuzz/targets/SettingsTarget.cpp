// "config.xml" as any bytes: the reader must not fall over, and whatever model it builds
// must survive being written and read back unchanged (the text is a fixed point).
#include <string>

#include "config/Settings.h"
#include "config/XMLSAXParser.h"
#include "config/XMLSAXReader.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzTargets.h"
#include "fuzz/ScratchFolder.h"

namespace Fuzz {

namespace {

// Counts the element hooks: an end is only ever reported for an element that started
// (elements still open at the end of the document are accepted).
class BalanceReader : public XML::SAXReader {
  public:
    void onElementStart(const XML::Element&) override { ++depth_; }
    void onElementText(const XML::Element&) override { --depth_; }
    int depth() const { return depth_; }

  private:
    int depth_ = 0;
};

}  // namespace

int settingsTarget(const uint8_t* data, size_t size) {
    const std::string document(reinterpret_cast<const char*>(data), size);

    BalanceReader reader;
    XML::SAXParser parser;
    parser.setContentHandler(&reader);
    if (parser.parseString(document))
        FUZZ_CHECK(reader.depth() >= 0);
    else
        FUZZ_CHECK(parser.lastErrorOffset() <= document.size());

    const std::string path = scratchFolder() + "config.xml";
    writeScratchFile(path, document);
    Settings loaded;
    loaded.loadFile(path);
    // A running service takes a text whole or not at all, and says why it did not.
    const std::string before = loaded.configText();
    std::string why;
    if (!loaded.applyText(document, Settings::Check::Usable, Settings::ListReading::Replace, why)) {
        FUZZ_CHECK(loaded.configText() == before);
        FUZZ_CHECK(!why.empty());
    }
    const std::string written = loaded.configText();

    writeScratchFile(path, written);
    Settings reloaded;
    FUZZ_CHECK(reloaded.loadFile(path));
    FUZZ_CHECK(reloaded.getValues() == loaded.getValues());
    FUZZ_CHECK(reloaded.getAccessList() == loaded.getAccessList());
    FUZZ_CHECK(reloaded.configText() == written);
    return 0;
}

}  // namespace Fuzz
