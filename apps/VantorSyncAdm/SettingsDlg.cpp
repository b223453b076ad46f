#include "apps/VantorSyncAdm/SettingsDlg.h"

#include "apps/VantorSyncAdm/AccessListsDlg.h"
#include "apps/VantorSyncAdm/DialogTemplate.h"
#include "apps/VantorSyncAdm/NumberText.h"
#include "apps/VantorSyncAdm/StringTable.h"
#include "apps/VantorSyncAdm/SyncConnection.h"
#include "apps/VantorSyncAdm/TextManager.h"
#include "config/ByteStream.h"
#include "config/ListenAddresses.h"

int SettingsDlg::templateId() const {
    return DialogId::kSettings;
}

void SettingsDlg::onInit(DialogView& view) {
    view_ = &view;
    context_.texts.translateDialog(view, DialogId::kSettings);
    if (!loadFromService()) {
        view.endDialog(kIdCancel);
        return;
    }
    const SettingsData values = settings_.getValues();
    view.setChecked(kWhitelistEnabled, values.commonWhitelistEnabled);
    view.setChecked(kTrainingDbEnabled, values.commonTrainingDbEnabled);
    view.setChecked(kLogEnabled, values.logEnabled);
    view.setText(kWhitelistMaxSize,
                 formatNumber(static_cast<int32_t>(values.commonWhitelistMaxSize)));
    view.setText(kTrainingDbMaxSize, formatNumber(values.commonTrainingDbMaxSize));
    view.setText(kPort, formatNumber(values.port));
    view.setText(kListenAddresses, values.listenAddresses);
    view.setText(kLogFileLifetime, formatNumber(values.logFileLifetime));
    view.setUpDownRange(kLifetimeUpDown, kLifetimeMinimum, kLifetimeMaximum);
}

bool SettingsDlg::loadFromService() {
    std::shared_ptr<SyncObject> sync;
    if (!context_.sync.acquireSyncObject(sync))
        return false;
    std::string folder;
    SyncResult result = sync->getConfigFolder(folder);
    if (!result.ok) {
        context_.sync.reportComError(result);
        return false;
    }
    view_->setText(kDataFolder, folder);
    std::vector<uint8_t> config;
    result = sync->getConfig(config);
    if (!result.ok) {
        context_.sync.reportComError(result);
        return false;
    }
    // Nothing of a text that breaks off is shown, and the dialog says why it closes.
    MemoryByteStream stream(std::move(config));
    std::string why;
    if (settings_.loadFromStream(stream, why))
        return true;
    showError(context_.texts.getString(StringId::kConfigUnreadable) + "\n" + why);
    return false;
}

void SettingsDlg::showError(const std::string& text) {
    context_.toolkit.messageBox(view_, text, "Error", MessageButtons::Ok, MessageIcon::Error);
}

void SettingsDlg::onCommand(int id) {
    switch (id) {
        case kIdOk:
            onOk();
            break;
        case kIdCancel:
            view_->endDialog(kIdCancel);
            break;
        case kClearWhitelist:
            clearCollection(StringId::kClearWhitelist, true);
            break;
        case kClearTrainingDb:
            clearCollection(StringId::kClearTrainingDb, false);
            break;
        case kAccessRights: {
            AccessListsDlg accessLists(context_, settings_);
            context_.toolkit.runModal(accessLists, view_);
            break;
        }
        default:
            break;
    }
}

bool SettingsDlg::readNonZero(int control, int32_t& value) {
    value = parseLeadingNumber(view_->text(control));
    if (value != 0)
        return true;
    view_->setFocus(control);
    return false;
}

void SettingsDlg::onOk() {
    SettingsData values = settings_.getValues();
    int32_t number = 0;
    values.commonWhitelistEnabled = view_->isChecked(kWhitelistEnabled);
    if (!readNonZero(kWhitelistMaxSize, number))
        return;
    values.commonWhitelistMaxSize = static_cast<uint32_t>(number);
    values.commonTrainingDbEnabled = view_->isChecked(kTrainingDbEnabled);
    if (!readNonZero(kTrainingDbMaxSize, values.commonTrainingDbMaxSize))
        return;
    values.logEnabled = view_->isChecked(kLogEnabled);
    if (!readNonZero(kLogFileLifetime, values.logFileLifetime))
        return;
    // A port outside the range would be stored and fail only at the next start; 0 is also
    // what a field without digits reads as.
    values.port = parseLeadingNumber(view_->text(kPort));
    if (!isUsablePort(values.port)) {
        showError(context_.texts.getString(StringId::kPortOutOfRange));
        view_->setFocus(kPort);
        return;
    }
    std::vector<std::string> addresses;
    std::string why;
    if (!ListenAddresses::parse(view_->text(kListenAddresses), addresses, why)) {
        showError(context_.texts.getString(StringId::kListenAddressesInvalid) + "\n" + why);
        view_->setFocus(kListenAddresses);
        return;
    }
    values.listenAddresses = ListenAddresses::join(addresses);
    settings_.setValues(values);

    std::shared_ptr<SyncObject> sync;
    if (!context_.sync.acquireSyncObject(sync)) {
        view_->endDialog(kIdCancel);
        return;
    }
    std::vector<uint8_t> current;
    SyncResult result = sync->getConfig(current);
    if (!result.ok) {
        context_.sync.reportComError(result);
        view_->endDialog(kIdCancel);
        return;
    }
    MemoryByteStream stream(std::move(current));
    int outcome = kIdCancel;
    if (!stream.seek(0)) {
        context_.sync.reportComError(SyncResult::failure("The configuration could not be sent."));
    } else if (settings_.saveToStream(stream)) {
        result = sync->putConfig(stream.bytes());
        if (result.ok)
            outcome = kIdOk;
        else
            context_.sync.reportComError(result);
    }
    view_->endDialog(outcome);
}

void SettingsDlg::clearCollection(int promptId, bool whitelist) {
    MessageAnswer answer =
        context_.toolkit.messageBox(view_, context_.texts.getString(promptId), "",
                                    MessageButtons::YesNo, MessageIcon::Question);
    if (answer != MessageAnswer::Yes)
        return;
    std::shared_ptr<SyncObject> sync;
    if (!context_.sync.acquireSyncObject(sync)) {
        view_->endDialog(kIdCancel);
        return;
    }
    SyncResult result = whitelist ? sync->clearWhitelist() : sync->clearTrainingDb();
    context_.sync.reportComError(result);
}
