#include "apps/VantorSyncAdm/MainDlg.h"

#include <cstring>

#include "apps/VantorSyncAdm/AboutDlg.h"
#include "apps/VantorSyncAdm/DialogTemplate.h"
#include "apps/VantorSyncAdm/NumberText.h"
#include "apps/VantorSyncAdm/SettingsDlg.h"
#include "apps/VantorSyncAdm/StringTable.h"
#include "apps/VantorSyncAdm/SyncConnection.h"
#include "apps/VantorSyncAdm/TextManager.h"

namespace {

constexpr size_t kStatisticsSize = 8;

int32_t littleEndianInt32(const uint8_t* bytes) {
    uint32_t value = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
                     uint32_t{bytes[3]} << 24;
    int32_t signedValue;
    std::memcpy(&signedValue, &value, sizeof signedValue);
    return signedValue;
}

}  // namespace

int CMainDlg::templateId() const {
    return DialogId::kMain;
}

void CMainDlg::onInit(DialogView& view) {
    view_ = &view;
    context_.texts.translateDialog(view, DialogId::kMain);
    view.createStatusBar("Ready");

    std::shared_ptr<SyncObject> sync;
    if (!context_.sync.acquireSyncObject(sync))
        return;
    int32_t enabled = 0;
    SyncResult result = sync->getEnabled(enabled);
    if (!result.ok) {
        context_.sync.reportComError(result);
        return;
    }
    showState(enabled != 0 ? ServiceState::Active : ServiceState::Stopped);
    refresh();
}

void CMainDlg::onCommand(int id) {
    switch (id) {
        case kStart:
            switchService(true);
            break;
        case kStop:
            switchService(false);
            break;
        case kRefresh:
            refresh();
            break;
        case kSettings: {
            SettingsDlg settings(context_);
            context_.toolkit.runModal(settings, view_);
            break;
        }
        case kAbout: {
            CAboutDlg about(context_);
            context_.toolkit.runModal(about, view_);
            break;
        }
        case kIdOk:
        case kIdCancel:
            context_.sync.releaseSyncObject();
            view_->endDialog(id);
            break;
        default:
            break;
    }
}

void CMainDlg::refresh() {
    std::shared_ptr<SyncObject> sync;
    if (!context_.sync.acquireSyncObject(sync))
        return;
    std::vector<uint8_t> statistics;
    SyncResult result = sync->getStatistics(statistics);
    if (result.ok && statistics.size() < kStatisticsSize)
        result = SyncResult::failure("The service sent incomplete statistics.");
    // On failure the window stays open with the numbers it showed.
    if (!result.ok) {
        context_.sync.reportComError(result);
        return;
    }
    view_->setText(kWhitelistCount, formatNumber(littleEndianInt32(statistics.data())));
    view_->setText(kDescriptorCount, formatNumber(littleEndianInt32(statistics.data() + 4)));
}

void CMainDlg::switchService(bool start) {
    std::shared_ptr<SyncObject> sync;
    if (!context_.sync.acquireSyncObject(sync))
        return;
    SyncResult result = sync->putEnabled(start ? 1 : 0);
    if (!result.ok) {
        context_.sync.reportComError(result);
        return;
    }
    showState(start ? ServiceState::Active : ServiceState::Stopped);
}

void CMainDlg::showState(ServiceState state) {
    state_ = state;
    const bool active = state == ServiceState::Active;
    view_->setEnabled(kStart, !active);
    view_->setEnabled(kStop, active);
    view_->setStatusText(
        context_.texts.getString(active ? StringId::kServiceActive : StringId::kServiceStopped));
}
