#pragma once

#include "apps/VantorSyncAdm/DialogTemplate.h"

class QtDialog;

// Turns a dialog template into widgets: the dialog's font decides the size of a dialog
// unit, every control gets its id and window class name, tab order follows the template.
class DialogBuilder {
  public:
    static void build(const DialogTemplate& dialog, QtDialog& into);
};
