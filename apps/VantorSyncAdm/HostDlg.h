#pragma once

#include <string>

#include "apps/VantorSyncAdm/ConsoleContext.h"
#include "apps/VantorSyncAdm/DialogToolkit.h"
#include "config/SettingsData.h"

// Edits one host's name and rights. The caller fills the members before a run and reads
// them after a run that ended with OK; a run may be repeated with what the last one left.
// A name the field cannot show exactly (not UTF-8) comes back byte for byte unless the
// user changes it; a typed name that could not be stored as text is refused, and so is one
// that looks like an address or prefix but is not one (see AddressEntry).
class HostDlg : public DialogLogic {
  public:
    enum Control { kName = 1005, kAllowGet = 1033, kAllowPost = 1034 };
    // The name field takes no more characters than this.
    static constexpr int kMaxNameLength = 499;

    explicit HostDlg(ConsoleContext& context) : context_(context) {}

    int templateId() const override;
    void onInit(DialogView& view) override;
    void onCommand(int id) override;

    std::string name;
    AccessRights rights{true, true};

  private:
    ConsoleContext& context_;
    DialogView* view_ = nullptr;
    // The name as the field showed it at the start of the run.
    std::string shownName_;
};
