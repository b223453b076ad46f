#pragma once

#include "apps/VantorSyncAdm/ConsoleContext.h"
#include "apps/VantorSyncAdm/DialogToolkit.h"
#include "config/Settings.h"

// Edits the service's configuration: fetched whole when the dialog opens, sent back whole
// by OK. The two Clear buttons act on the service at once.
class SettingsDlg : public DialogLogic {
  public:
    enum Control {
        kWhitelistEnabled = 1023,
        kWhitelistMaxSize = 1021,
        kClearWhitelist = 1003,
        kTrainingDbEnabled = 1024,
        kTrainingDbMaxSize = 1022,
        kClearTrainingDb = 1004,
        kPort = 1025,
        kListenAddresses = 1038,
        kAccessRights = 1009,
        kLogEnabled = 1014,
        kLogFileLifetime = 1015,
        kLifetimeUpDown = 1016,
        kDataFolder = 1005,
    };
    static constexpr int kLifetimeMinimum = 1;
    static constexpr int kLifetimeMaximum = 1000;

    explicit SettingsDlg(ConsoleContext& context) : context_(context) {}

    int templateId() const override;
    void onInit(DialogView& view) override;
    void onCommand(int id) override;

    Settings& settings() { return settings_; }

  private:
    bool loadFromService();
    void onOk();
    // False after putting the focus on a field holding 0.
    bool readNonZero(int control, int32_t& value);
    void clearCollection(int promptId, bool whitelist);
    void showError(const std::string& text);

    ConsoleContext& context_;
    DialogView* view_ = nullptr;
    Settings settings_;
};
