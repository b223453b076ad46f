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
    if (!context_.sync.acquireSyncObject(sync)) {
        showFailure(context_.sync.lastFailure());
        return;
    }
    int32_t enabled = 0;
    SyncResult result = sync->getEnabled(enabled);
    if (!result.ok) {
        context_.sync.reportComError(result);
        showFailure(result.kind);
        return;
    }
    showState(enabled != 0 ? ServiceState::Active : ServiceState::Stopped);
    refreshStatistics(*sync);
}

void CMainDlg::refreshStatistics(SyncObject& sync) {
    std::vector<uint8_t> statistics;
    SyncResult result = sync.getStatistics(statistics);
    if (result.ok && statistics.size() < kStatisticsSize)
        result = SyncResult::failure("The service sent incomplete statistics.");
    // On failure the window stays open with the numbers it showed.
    if (!result.ok) {
        context_.sync.reportComError(result);
        showFailure(result.kind);
        return;
    }
    view_->setText(kWhitelistCount, formatNumber(littleEndianInt32(statistics.data())));
    view_->setText(kDescriptorCount, formatNumber(littleEndianInt32(statistics.data() + 4)));
}

void CMainDlg::switchService(bool start) {
    std::shared_ptr<SyncObject> sync;
    if (!context_.sync.acquireSyncObject(sync)) {
        showFailure(context_.sync.lastFailure());
        return;
    }
    SyncResult result = sync->putEnabled(start ? 1 : 0);
    if (!result.ok) {
        context_.sync.reportComError(result);
        showFailure(result.kind);
        return;
    }
    showState(start ? ServiceState::Active : ServiceState::Stopped);
}

void CMainDlg::showFailure(SyncResult::Failure kind) {
    if (kind == SyncResult::Failure::Unreachable)
        showState(ServiceState::Unreachable);
    else if (kind == SyncResult::Failure::NotPermitted)
        showState(ServiceState::NotPermitted);
}

void CMainDlg::showState(ServiceState state) {
    state_ = state;
    const bool known = state == ServiceState::Active || state == ServiceState::Stopped;
    const bool reachable = known || state == ServiceState::Undetermined;
    view_->setEnabled(kStart, reachable && state != ServiceState::Active);
    view_->setEnabled(kStop, reachable && state != ServiceState::Stopped);
    view_->setEnabled(kSettings, reachable);
    if (!reachable) {
        // Counts from before would look current.
        view_->setText(kWhitelistCount, "-");
        view_->setText(kDescriptorCount, "-");
    }
    int status = 0;
    switch (state) {
        case ServiceState::Active:
            status = StringId::kServiceActive;
            break;
        case ServiceState::Stopped:
            status = StringId::kServiceStopped;
            break;
        case ServiceState::Unreachable:
            status = StringId::kStatusUnreachable;
            break;
        case ServiceState::NotPermitted:
            status = StringId::kStatusNotPermitted;
            break;
        case ServiceState::Undetermined:
            view_->setStatusText("Ready");
            return;
    }
    view_->setStatusText(context_.texts.getString(status));
}
