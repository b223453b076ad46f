#pragma once

#include "apps/VantorSyncAdm/DialogToolkit.h"

// Runs the console's dialogs as Qt widgets.
class QtToolkit : public Toolkit {
  public:
    int runModal(DialogLogic& dialog, DialogView* owner) override;
    MessageAnswer messageBox(DialogView* owner, const std::string& text, const std::string& caption,
                             MessageButtons buttons, MessageIcon icon) override;
};
