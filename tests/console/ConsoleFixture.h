#pragma once

#include <gtest/gtest.h>

#include "apps/VantorSyncAdm/ConsoleContext.h"
#include "apps/VantorSyncAdm/StringTable.h"
#include "apps/VantorSyncAdm/SyncConnection.h"
#include "apps/VantorSyncAdm/TextManager.h"
#include "config/ByteStream.h"
#include "config/Settings.h"
#include "tests/console/FakeSyncObject.h"
#include "tests/console/FakeToolkit.h"

// The console's parts wired together over the in-memory toolkit and service.
class ConsoleFixture : public ::testing::Test {
  protected:
    ConsoleFixture() {
        texts.registerDialogs(dialogTemplates());
        texts.registerStringTable(builtInStrings());
        Settings defaults;
        service.setConfigText(defaults.configText());
    }

    // The settings the service was last sent.
    static void parseConfig(const std::string& text, Settings& into) {
        MemoryByteStream stream(std::vector<uint8_t>(text.begin(), text.end()));
        ASSERT_TRUE(into.loadFromStream(stream));
    }

    std::vector<std::string> errorTexts() const {
        std::vector<std::string> texts;
        for (const ShownMessage& message : toolkit.messages()) {
            if (message.caption == "Error")
                texts.push_back(message.text);
        }
        return texts;
    }

    FakeService service;
    FakeToolkit toolkit;
    ResMgr::TextManager texts;
    SyncConnection sync{fakeSyncFactory(service), toolkit, texts};
    ConsoleContext context{toolkit, texts, sync, "/nonexistent/VantorSyncAdm"};
};
