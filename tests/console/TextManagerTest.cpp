#include "apps/VantorSyncAdm/TextManager.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "apps/VantorSyncAdm/MainDlg.h"
#include "apps/VantorSyncAdm/ProfileFile.h"
#include "apps/VantorSyncAdm/StringTable.h"
#include "tests/console/FakeToolkit.h"
#include "tests/support/TempFolder.h"

namespace {

class NoLogic : public DialogLogic {
  public:
    explicit NoLogic(int id) : id_(id) {}
    int templateId() const override { return id_; }
    void onInit(DialogView&) override {}
    void onCommand(int) override {}

  private:
    int id_;
};

class TextManagerTest : public ::testing::Test {
  protected:
    TextManagerTest() {
        texts.registerDialogs(dialogTemplates());
        texts.registerStringTable(builtInStrings());
    }

    void load(const std::string& content) {
        std::string path = folder.file("uitext.lng");
        FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
        ASSERT_TRUE(texts.loadLanguageFile(path));
    }

    // A fresh dialog of the template, translated as the console does when it opens.
    std::unique_ptr<FakeDialogView> translated(int id) {
        logic = std::make_unique<NoLogic>(id);
        auto view = std::make_unique<FakeDialogView>(*findDialogTemplate(id), *logic);
        texts.translateDialog(*view, id);
        return view;
    }

    TempFolder folder;
    ResMgr::TextManager texts;
    std::unique_ptr<NoLogic> logic;
};

TEST_F(TextManagerTest, RegistersCaptionsButtonsAndStaticsButNotEditsListsOrUnnumbered) {
    EXPECT_EQ(texts.lookupText("form129", 0), "Mailvane SyncServer Console");
    EXPECT_EQ(texts.lookupText("form129", 1020), "0");
    EXPECT_EQ(texts.lookupText("form205", 1036), "Service data folder on the server");
    EXPECT_EQ(texts.lookupText("form100", 1035), "1.0");
    EXPECT_EQ(texts.lookupText("form205", 1021), "");
    EXPECT_EQ(texts.lookupText("form203", 1000), "");
    EXPECT_EQ(texts.lookupText("form205", 1016), "");
    EXPECT_EQ(texts.lookupText("form205", -1), "");
    EXPECT_EQ(texts.getString(StringId::kClearTrainingDb), "Clear the common training database?");
    EXPECT_EQ(texts.getString(999), "");
}

TEST_F(TextManagerTest, WithoutALanguageFileEveryDialogKeepsItsTemplateTexts) {
    EXPECT_TRUE(texts.loadLanguageFile(folder.file("missing.lng")));
    for (const DialogTemplate& dialog : dialogTemplates()) {
        auto view = translated(dialog.id);
        EXPECT_EQ(view->caption(), dialog.caption);
        for (const ControlTemplate& control : dialog.controls) {
            if (control.id != kNoId) {
                EXPECT_EQ(view->text(control.id), control.text) << dialog.id << "/" << control.id;
            }
        }
    }
}

TEST_F(TextManagerTest, SectionNamesMatchInAnyCaseAndReplaceCaptionAndButtons) {
    load(
        "; console texts\r\n[FORM129]\r\n0=Konsole\r\n1010=Starten\r\n"
        "[Strings]\r\n129=Dienst aktiv\r\n");
    auto main = translated(DialogId::kMain);
    EXPECT_EQ(main->caption(), "Konsole");
    EXPECT_EQ(main->text(CMainDlg::kStart), "Starten");
    EXPECT_EQ(main->text(CMainDlg::kStop), "Stop");
    EXPECT_EQ(texts.getString(StringId::kServiceActive), "Dienst aktiv");
}

TEST_F(TextManagerTest, ValuesTakeEverythingAfterTheFirstEqualsWithEscapes) {
    load(
        "[form203]\n1008=a=b\\nline two\\tcol \\x \\\\n\n"
        "1018 extra=Neu...\n1003=first\n1003=second\nno equals sign\n");
    auto access = translated(DialogId::kAccessLists);
    EXPECT_EQ(access->text(1008), "a=b\nline two\tcol \\x \\\n");
    EXPECT_EQ(access->text(1018), "Neu...");
    EXPECT_EQ(access->text(1003), "second");
}

TEST_F(TextManagerTest, EmptyValuesKeepTemplateTextsButEmptyStrings) {
    load("[form129]\n1010=\n[strings]\n130=\n");
    auto main = translated(DialogId::kMain);
    EXPECT_EQ(main->text(CMainDlg::kStart), "Start");
    EXPECT_EQ(texts.getString(StringId::kServiceStopped), "");
    EXPECT_EQ(texts.getString(StringId::kServiceActive), "Service is active");
}

TEST_F(TextManagerTest, KeysWithoutDigitsNameTheCaptionAndEditIdsAreIgnored) {
    load("[form206]\nname=Rechner\n1005=typed host\n[form205]\n1016=7\n1025=99\n");
    auto host = translated(DialogId::kHost);
    EXPECT_EQ(host->caption(), "Rechner");
    EXPECT_EQ(host->text(1005), "");
    auto settings = translated(DialogId::kSettings);
    EXPECT_EQ(settings->text(1025), "");
    EXPECT_EQ(settings->text(1016), "");
}

TEST_F(TextManagerTest, TranslationRecordsTextsOfControlsTheFileLeavesOut) {
    load("[form100]\n1001=Produkt\n");
    auto about = translated(DialogId::kAbout);
    EXPECT_EQ(about->text(1001), "Produkt");
    EXPECT_EQ(texts.lookupText("form100", 1026), "Version");
    EXPECT_EQ(texts.lookupText("form100", 0), "About");
}

TEST_F(TextManagerTest, ProfileLinesSplitAtTheFirstEqualsWithLeadingNumber) {
    int key = 0;
    std::string value;
    EXPECT_TRUE(ResMgr::ProfileFile::splitLine("  -12x=a=b", key, value));
    EXPECT_EQ(key, -12);
    EXPECT_EQ(value, "a=b");
    EXPECT_FALSE(ResMgr::ProfileFile::splitLine("1010 Start", key, value));
}

}  // namespace
