#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "apps/VantorSyncAdm/DialogTemplate.h"
#include "http/IOB.h"
#include "platform/AutoLock.h"

class DialogView;

namespace ResMgr {

using CAutoLock = AutoLock;

// The buffer the language file is read through: the byte buffer's rules, its own limit.
class IOB : public HTTPParser::IOB {
  public:
    static constexpr uint32_t kLengthLimit = 104857600;
    static constexpr uint32_t kInitialSize = 5000;

    IOB() : HTTPParser::IOB(kLengthLimit) {}
};

struct TextSection {
    std::string name;
    std::map<int32_t, std::string> texts;
};

// Every text the console shows: the built-in captions, labels and strings, and their
// replacements from the language file "uitext.lng".
class TextManager {
  public:
    static constexpr const char* kLanguageFileName = "uitext.lng";

    TextManager() = default;
    TextManager(const TextManager&) = delete;
    TextManager& operator=(const TextManager&) = delete;

    // Records the caption and the texts of buttons and static controls with a real id.
    void registerDialogs(const std::vector<DialogTemplate>& dialogs);
    void registerStringTable(const std::map<int, std::string>& strings);
    // Merges the replacements of a language file; a missing file changes nothing. False
    // only when the file is too large for the buffer.
    bool loadLanguageFile(const std::string& path);

    // Gives the dialog and its buttons and static controls the texts of section
    // "form<number>"; controls without a text there keep theirs, which is recorded.
    void translateDialog(DialogView& dialog, int formNumber);
    // Empty when there is no such string.
    std::string getString(int32_t id) const;

    std::string lookupText(const std::string& section, int32_t key) const;
    void storeText(const std::string& section, int32_t key, const std::string& text);

  private:
    static std::string formName(int number) { return "form" + std::to_string(number); }
    // Reads the whole file into the buffer; false when it would not fit.
    static bool readFile(const std::string& path, IOB& buffer, bool& exists);

    mutable CriticalSection lock_;
    std::vector<TextSection> sections_;
    std::map<std::string, size_t> sectionIndex_;
    std::map<int32_t, std::string> strings_;
};

}  // namespace ResMgr
