#include "apps/VantorSyncAdm/AccessListsDlg.h"

#include "apps/VantorSyncAdm/DialogTemplate.h"
#include "apps/VantorSyncAdm/HostDlg.h"
#include "apps/VantorSyncAdm/StringTable.h"
#include "apps/VantorSyncAdm/TextManager.h"
#include "config/AddressEntry.h"

namespace {

// Host names are lower-cased as they are added; an address entry keeps the form typed
// ("FD00::/8"), since its letters are hex digits that mean the same in either case.
void lowerCaseName(std::string& text) {
    if (AddressEntry::classify(text) != AddressEntry::Kind::Name)
        return;
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
}

// True when the list holds the name, or another entry for the same network as the address
// entry name ("10.1.0.0/16" and "::ffff:10.1.0.0/112"); the entry except is left out.
bool isTaken(const AccessList& list, const std::string& name, const std::string& except) {
    if (list.count(name) != 0 && name != except)
        return true;
    AddressEntry address;
    if (AddressEntry::classify(name, &address) != AddressEntry::Kind::Address)
        return false;
    for (const auto& entry : list) {
        AddressEntry other;
        if (entry.first != except &&
            AddressEntry::classify(entry.first, &other) == AddressEntry::Kind::Address &&
            other.sameNetwork(address))
            return true;
    }
    return false;
}

}  // namespace

AccessListsDlg::AccessListsDlg(ConsoleContext& context, Settings& settings)
    : context_(context),
      settings_(settings),
      accessList_(settings.getAccessList()),
      yes_(context.texts.getString(StringId::kYes)),
      no_(context.texts.getString(StringId::kNo)) {}

int AccessListsDlg::templateId() const {
    return DialogId::kAccessLists;
}

void AccessListsDlg::onInit(DialogView& view) {
    view_ = &view;
    context_.texts.translateDialog(view, DialogId::kAccessLists);
    const ResMgr::TextManager& texts = context_.texts;
    view.setListColumns(kHostList, {
                                       {texts.getString(StringId::kHostNameColumn),
                                        view.listClientWidth(kHostList) - kOtherColumnsWidth,
                                        ListColumn::Align::Left},
                                       {texts.getString(StringId::kAllowedGetColumn),
                                        kRightsColumnWidth, ListColumn::Align::Center},
                                       {texts.getString(StringId::kAllowedPostColumn),
                                        kRightsColumnWidth, ListColumn::Align::Center},
                                   });
    namesOnlyNote_ = view.text(kNote);
    fillRows();
    updateControls();
    const AccessRights defaults = settings_.getValues().defaultAcl;
    view.setChecked(kDefaultGet, defaults.allowGet);
    view.setChecked(kDefaultPost, defaults.allowPost);
}

void AccessListsDlg::onCommand(int id) {
    switch (id) {
        case kAdd:
            add();
            break;
        case kEdit:
            edit();
            break;
        case kDelete:
            deleteSelected();
            break;
        case kIdOk:
            ok();
            break;
        case kIdCancel:
            view_->endDialog(kIdCancel);
            break;
        default:
            break;
    }
}

void AccessListsDlg::onListSelectionChanged(int id) {
    if (id == kHostList)
        updateControls();
}

void AccessListsDlg::onListDoubleClick(int id) {
    if (id == kHostList)
        edit();
}

void AccessListsDlg::fillRows() {
    view_->deleteAllListRows(kHostList);
    rowHosts_.clear();
    for (const auto& [host, rights] : accessList_)
        appendRow(host, rights);
}

void AccessListsDlg::appendRow(const std::string& host, const AccessRights& rights) {
    const int row = view_->appendListRow(
        kHostList, {host, rightText(rights.allowGet), rightText(rights.allowPost)});
    if (row >= 0 && row <= static_cast<int>(rowHosts_.size()))
        rowHosts_.insert(rowHosts_.begin() + row, host);
}

void AccessListsDlg::deleteRow(int row) {
    view_->deleteListRow(kHostList, row);
    if (row >= 0 && row < static_cast<int>(rowHosts_.size()))
        rowHosts_.erase(rowHosts_.begin() + row);
}

void AccessListsDlg::updateControls() {
    const bool selected = view_->listSelectedCount(kHostList) != 0;
    view_->setEnabled(kEdit, selected);
    view_->setEnabled(kDelete, selected);
    // With address entries, unlisted peers get nothing and the default rights are unused,
    // so the designed note ("applied to all hosts which are not listed") would mislead.
    bool addresses = false;
    for (const auto& entry : accessList_)
        addresses = addresses || AddressEntry::classify(entry.first) != AddressEntry::Kind::Name;
    view_->setText(kNote, addresses ? context_.texts.getString(StringId::kAccessNoteWithAddresses)
                                    : namesOnlyNote_);
}

void AccessListsDlg::refuseName() {
    context_.toolkit.messageBox(view_, context_.texts.getString(StringId::kHostNotUnique), "",
                                MessageButtons::Ok, MessageIcon::None);
}

void AccessListsDlg::add() {
    HostDlg host(context_);
    for (;;) {
        if (context_.toolkit.runModal(host, view_) != kIdOk)
            return;
        lowerCaseName(host.name);
        if (!isTaken(accessList_, host.name, std::string()))
            break;
        refuseName();
    }
    accessList_[host.name] = host.rights;
    appendRow(host.name, host.rights);
    updateControls();
}

void AccessListsDlg::edit() {
    const int row = view_->nextSelectedListRow(kHostList, -1);
    if (row < 0 || row >= static_cast<int>(rowHosts_.size()))
        return;
    const std::string oldName = rowHosts_[row];
    auto entry = accessList_.find(oldName);
    if (entry == accessList_.end())
        return;
    HostDlg host(context_);
    host.name = oldName;
    host.rights = entry->second;
    for (;;) {
        if (context_.toolkit.runModal(host, view_) != kIdOk)
            return;
        if (host.name == oldName) {
            accessList_[oldName] = host.rights;
            view_->setListCell(kHostList, row, 1, rightText(host.rights.allowGet));
            view_->setListCell(kHostList, row, 2, rightText(host.rights.allowPost));
            return;
        }
        if (!isTaken(accessList_, host.name, oldName))
            break;
        refuseName();
    }
    // A renamed entry keeps the name as typed; only Add lower-cases.
    deleteRow(row);
    accessList_.erase(oldName);
    accessList_[host.name] = host.rights;
    appendRow(host.name, host.rights);
    updateControls();
}

void AccessListsDlg::deleteSelected() {
    if (view_->listSelectedCount(kHostList) == 0)
        return;
    MessageAnswer answer =
        context_.toolkit.messageBox(view_, context_.texts.getString(StringId::kDeleteSelected), "",
                                    MessageButtons::YesNo, MessageIcon::Question);
    if (answer != MessageAnswer::Yes)
        return;
    for (int row = view_->nextSelectedListRow(kHostList, -1); row >= 0;
         row = view_->nextSelectedListRow(kHostList, row - 1)) {
        if (row < static_cast<int>(rowHosts_.size()))
            accessList_.erase(rowHosts_[row]);
        deleteRow(row);
    }
    updateControls();
}

void AccessListsDlg::ok() {
    // Enter in the list edits the selected host instead of closing.
    if (view_->focusedControl() == kHostList) {
        edit();
        return;
    }
    settings_.setAccessList(accessList_);
    SettingsData values = settings_.getValues();
    values.defaultAcl.allowGet = view_->isChecked(kDefaultGet);
    values.defaultAcl.allowPost = view_->isChecked(kDefaultPost);
    settings_.setValues(values);
    view_->endDialog(kIdOk);
}
