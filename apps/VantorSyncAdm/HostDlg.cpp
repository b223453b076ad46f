#include "apps/VantorSyncAdm/HostDlg.h"

#include "apps/VantorSyncAdm/DialogTemplate.h"
#include "apps/VantorSyncAdm/TextManager.h"

int HostDlg::templateId() const {
    return DialogId::kHost;
}

void HostDlg::onInit(DialogView& view) {
    view_ = &view;
    context_.texts.translateDialog(view, DialogId::kHost);
    view.setText(kName, name);
    view.setChecked(kAllowGet, rights.allowGet);
    view.setChecked(kAllowPost, rights.allowPost);
    view.setFocus(kName);
}

void HostDlg::onCommand(int id) {
    if (id == kIdCancel) {
        view_->endDialog(kIdCancel);
        return;
    }
    if (id != kIdOk)
        return;
    // Blanks are part of a name; only an empty one is refused.
    std::string typed = view_->text(kName);
    if (typed.empty())
        return;
    name = typed;
    rights.allowGet = view_->isChecked(kAllowGet);
    rights.allowPost = view_->isChecked(kAllowPost);
    view_->endDialog(kIdOk);
}
