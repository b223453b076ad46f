#pragma once

#include <string>

class Toolkit;
class SyncConnection;
namespace ResMgr {
class TextManager;
}

// What every console dialog works with.
struct ConsoleContext {
    Toolkit& toolkit;
    ResMgr::TextManager& texts;
    SyncConnection& sync;
    std::string programPath;  // the program file, for its version block
};
