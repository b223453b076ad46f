#include "apps/VantorSyncAdm/TextManager.h"

#include <cstdio>

#include "apps/VantorSyncAdm/DialogToolkit.h"
#include "apps/VantorSyncAdm/ProfileFile.h"

namespace ResMgr {

void TextManager::registerDialogs(const std::vector<DialogTemplate>& dialogs) {
    CAutoLock guard(lock_);
    for (const DialogTemplate& dialog : dialogs) {
        const std::string section = formName(dialog.id);
        if (!dialog.caption.empty())
            storeText(section, 0, dialog.caption);
        for (const ControlTemplate& control : dialog.controls) {
            const std::string className = controlClassName(control.kind);
            const bool relabels = className == "Button" || className == "Static";
            if (relabels && (control.id & 0xFFFF) != 0xFFFF && !control.text.empty())
                storeText(section, control.id, control.text);
        }
    }
}

void TextManager::registerStringTable(const std::map<int, std::string>& strings) {
    CAutoLock guard(lock_);
    for (const auto& [id, text] : strings) {
        if (!text.empty())
            strings_[id] = text;
    }
}

bool TextManager::readFile(const std::string& path, IOB& buffer, bool& exists) {
    exists = false;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return true;
    exists = true;
    bool ok = true;
    char piece[IOB::kInitialSize];
    size_t got;
    while ((got = std::fread(piece, 1, sizeof piece, file)) > 0) {
        if (!buffer.append(piece, static_cast<uint32_t>(got))) {
            ok = false;
            break;
        }
    }
    std::fclose(file);
    return ok;
}

bool TextManager::loadLanguageFile(const std::string& path) {
    CAutoLock guard(lock_);
    IOB buffer;
    bool exists = false;
    if (!readFile(path, buffer, exists))
        return false;
    if (!exists)
        return true;

    ProfileFile profile;
    profile.parse(std::string(buffer.chars(), buffer.length()));

    for (const std::string& name : profile.sectionNames()) {
        if (equalsIgnoringCase(name, "strings"))
            continue;
        sections_.push_back(TextSection{name, {}});
        sectionIndex_[name] = sections_.size() - 1;
    }
    // Every section, the built-in ones included, takes the file's section of its name in
    // any letter case, so "[FORM129]" relabels the main dialog.
    for (TextSection& section : sections_) {
        for (const std::string& line : profile.sectionLines(section.name)) {
            int key = 0;
            std::string value;
            if (ProfileFile::splitLine(line, key, value))
                section.texts[key] = ProfileFile::unescape(value);
        }
    }
    for (const std::string& line : profile.sectionLines("strings")) {
        int key = 0;
        std::string value;
        if (ProfileFile::splitLine(line, key, value))
            strings_[key] = ProfileFile::unescape(value);
    }
    return true;
}

void TextManager::translateDialog(DialogView& dialog, int formNumber) {
    CAutoLock guard(lock_);
    const std::string section = formName(formNumber);
    for (const ControlInfo& control : dialog.controls()) {
        // Controls without an id share -1; no text can be meant for one of them alone.
        if (control.className != "Button" && control.className != "Static")
            continue;
        if ((control.id & 0xFFFF) == 0xFFFF)
            continue;
        std::string text = lookupText(section, control.id);
        if (!text.empty())
            dialog.setText(control.id, text);
        else
            storeText(section, control.id, dialog.text(control.id));
    }
    std::string caption = lookupText(section, 0);
    if (!caption.empty())
        dialog.setCaption(caption);
    else
        storeText(section, 0, dialog.caption());
}

std::string TextManager::getString(int32_t id) const {
    CAutoLock guard(lock_);
    auto found = strings_.find(id);
    return found == strings_.end() ? std::string() : found->second;
}

std::string TextManager::lookupText(const std::string& section, int32_t key) const {
    CAutoLock guard(lock_);
    auto index = sectionIndex_.find(section);
    if (index == sectionIndex_.end())
        return std::string();
    const auto& texts = sections_[index->second].texts;
    auto found = texts.find(key);
    return found == texts.end() ? std::string() : found->second;
}

void TextManager::storeText(const std::string& section, int32_t key, const std::string& text) {
    CAutoLock guard(lock_);
    auto index = sectionIndex_.find(section);
    if (index == sectionIndex_.end()) {
        sections_.push_back(TextSection{section, {}});
        index = sectionIndex_.emplace(section, sections_.size() - 1).first;
    }
    sections_[index->second].texts[key] = text;
}

}  // namespace ResMgr
