#pragma once

#include "apps/VantorSyncAdm/ConsoleContext.h"
#include "apps/VantorSyncAdm/DialogToolkit.h"

// The console's main window: switches the service's HTTP sync server, shows the two
// collection sizes and opens the settings and about dialogs. Closing it with a command
// ends the program with that command's id.
class CMainDlg : public DialogLogic {
  public:
    enum Control {
        kStart = 1010,
        kStop = 1011,
        kSettings = 1012,
        kAbout = 57664,
        kClose = 2,
        kStatistics = 1001,
        kWhitelistCount = 1020,
        kDescriptorCount = 1021,
        kRefresh = 1002,
    };
    enum class ServiceState { Undetermined, Active, Stopped };

    explicit CMainDlg(ConsoleContext& context) : context_(context) {}

    int templateId() const override;
    void onInit(DialogView& view) override;
    void onCommand(int id) override;

    ServiceState state() const { return state_; }

  private:
    void refresh();
    void switchService(bool start);
    void showState(ServiceState state);

    ConsoleContext& context_;
    DialogView* view_ = nullptr;
    ServiceState state_ = ServiceState::Undetermined;
};
