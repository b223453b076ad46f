#include "apps/VantorSyncAdm/HostDlg.h"

#include "apps/VantorSyncAdm/DialogTemplate.h"
#include "apps/VantorSyncAdm/StringTable.h"
#include "apps/VantorSyncAdm/TextManager.h"
#include "config/AddressEntry.h"
#include "config/HostNames.h"

int HostDlg::templateId() const {
    return DialogId::kHost;
}

void HostDlg::onInit(DialogView& view) {
    view_ = &view;
    context_.texts.translateDialog(view, DialogId::kHost);
    view.setText(kName, name);
    shownName_ = view.text(kName);
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
    if (name.empty() || typed != shownName_) {
        if (!HostNames::isStorableAsText(typed)) {
            context_.toolkit.messageBox(view_, context_.texts.getString(StringId::kHostNameNotText),
                                        "", MessageButtons::Ok, MessageIcon::None);
            view_->setFocus(kName);
            return;
        }
        // "10.1.0.0/33" is a mistyped network, not a name that no client will ever send.
        std::string reason;
        if (AddressEntry::classify(typed, nullptr, &reason) == AddressEntry::Kind::Malformed) {
            context_.toolkit.messageBox(
                view_, context_.texts.getString(StringId::kAddressEntryInvalid) + ": " + reason, "",
                MessageButtons::Ok, MessageIcon::None);
            view_->setFocus(kName);
            return;
        }
        name = typed;
    }
    rights.allowGet = view_->isChecked(kAllowGet);
    rights.allowPost = view_->isChecked(kAllowPost);
    view_->endDialog(kIdOk);
}
