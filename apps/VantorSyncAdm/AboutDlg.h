#pragma once

#include "apps/VantorSyncAdm/ConsoleContext.h"
#include "apps/VantorSyncAdm/DialogToolkit.h"

// Shows the product name and the version read from the program file.
class CAboutDlg : public DialogLogic {
  public:
    static constexpr int kVersion = 1035;

    explicit CAboutDlg(ConsoleContext& context) : context_(context) {}

    int templateId() const override;
    void onInit(DialogView& view) override;
    void onCommand(int id) override;

  private:
    ConsoleContext& context_;
    DialogView* view_ = nullptr;
};
