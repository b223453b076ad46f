#pragma once

#include <string>
#include <vector>

#include "apps/VantorSyncAdm/ConsoleContext.h"
#include "apps/VantorSyncAdm/DialogToolkit.h"
#include "config/Settings.h"

class HostDlg;

// Edits the per-host access list and the default rights of a Settings object. Works on a
// copy of the list; only OK stores it back.
class AccessListsDlg : public DialogLogic {
  public:
    enum Control {
        kHostList = 1000,
        kAdd = 1018,
        kEdit = 1003,
        kDelete = 1004,
        kDefaultGet = 1033,
        kDefaultPost = 1034,
        kNote = 1008,
    };
    static constexpr int kOtherColumnsWidth = 200;
    static constexpr int kRightsColumnWidth = 100;

    AccessListsDlg(ConsoleContext& context, Settings& settings);

    int templateId() const override;
    void onInit(DialogView& view) override;
    void onCommand(int id) override;
    void onListSelectionChanged(int id) override;
    void onListDoubleClick(int id) override;

    const AccessList& workingCopy() const { return accessList_; }

  private:
    void fillRows();
    void appendRow(const std::string& host, const AccessRights& rights);
    void deleteRow(int row);
    // Edit and Delete need a selected row; the note above the list must stay true of it.
    void updateControls();
    void add();
    void edit();
    void deleteSelected();
    void ok();
    // Shows "Host name is not unique" over this dialog.
    void refuseName();
    const std::string& rightText(bool allowed) const { return allowed ? yes_ : no_; }

    ConsoleContext& context_;
    Settings& settings_;
    AccessList accessList_;
    std::string yes_;
    std::string no_;
    DialogView* view_ = nullptr;
    // The note as the dialog was translated: true while the list holds only names.
    std::string namesOnlyNote_;
    // The exact host name of each row, by position: the list shows a name that is not
    // UTF-8 with replacement characters, so its text cannot lead back to the entry.
    std::vector<std::string> rowHosts_;
};
