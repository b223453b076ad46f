#pragma once

#include "apps/VantorSyncAdm/ConsoleContext.h"
#include "apps/VantorSyncAdm/DialogToolkit.h"
#include "apps/VantorSyncAdm/SyncObject.h"

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
    // Unreachable and NotPermitted: nothing but Refresh (which tries again), About and Close
    // can work, so the rest is disabled and the status line says why.
    enum class ServiceState { Undetermined, Active, Stopped, Unreachable, NotPermitted };

    explicit CMainDlg(ConsoleContext& context) : context_(context) {}

    int templateId() const override;
    void onInit(DialogView& view) override;
    void onCommand(int id) override;

    ServiceState state() const { return state_; }

  private:
    // Reads the server's state and then the statistics.
    void refresh();
    void refreshStatistics(SyncObject& sync);
    void switchService(bool start);
    // After a reported failure: a service that cannot be reached or managed shows as such.
    void showFailure(SyncResult::Failure kind);
    void showState(ServiceState state);

    ConsoleContext& context_;
    DialogView* view_ = nullptr;
    ServiceState state_ = ServiceState::Undetermined;
};
