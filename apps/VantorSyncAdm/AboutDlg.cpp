#include "apps/VantorSyncAdm/AboutDlg.h"

#include "apps/VantorSyncAdm/DialogTemplate.h"
#include "apps/VantorSyncAdm/TextManager.h"
#include "apps/VantorSyncAdm/VersionInfo.h"

int CAboutDlg::templateId() const {
    return DialogId::kAbout;
}

void CAboutDlg::onInit(DialogView& view) {
    view_ = &view;
    context_.texts.translateDialog(view, DialogId::kAbout);
    view.setText(kVersion, loadVersionString(context_.programPath, "ProductVersion"));
}

void CAboutDlg::onCommand(int id) {
    if (id == kIdOk || id == kIdCancel)
        view_->endDialog(id);
}
