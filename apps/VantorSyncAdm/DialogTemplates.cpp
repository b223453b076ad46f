#include "apps/VantorSyncAdm/DialogTemplate.h"

namespace {

using K = ControlKind;

std::vector<DialogTemplate> makeTemplates() {
    std::vector<DialogTemplate> all;
    all.push_back({DialogId::kAbout,
                   231,
                   62,
                   "MS Sans Serif",
                   8,
                   "About",
                   false,
                   {
                       {1, K::DefPushButton, "OK", 167, 42, 50, 14},
                       {kNoId, K::Icon, "", 7, 7, 21, 20},
                       {1001, K::Label, "Mailvane SyncServer", 38, 6, 143, 8},
                       {1026, K::Label, "Version", 37, 18, 39, 8},
                       {1035, K::Label, "1.0", 79, 18, 51, 8},
                   }});
    all.push_back({DialogId::kMain,
                   312,
                   116,
                   "MS Sans Serif",
                   8,
                   "Mailvane SyncServer Console",
                   true,
                   {
                       {1010, K::PushButton, "Start", 220, 11, 89, 14},
                       {1011, K::PushButton, "Stop", 220, 28, 89, 14},
                       {1012, K::PushButton, "Settings...", 220, 46, 89, 14},
                       {57664, K::PushButton, "About...", 220, 64, 89, 14},
                       {2, K::PushButton, "Close", 220, 82, 89, 14},
                       {1001, K::GroupBox, "Statistics", 7, 7, 206, 89},
                       {1026, K::Label, "Number of items in common whitelist:", 15, 22, 145, 8},
                       {1020, K::Label, "0", 166, 22, 39, 8},
                       {1027, K::Label, "Number of message descriptors:", 15, 36, 145, 8},
                       {1021, K::Label, "0", 166, 36, 39, 8},
                       {1002, K::PushButton, "Refresh", 152, 74, 50, 14},
                   }});
    all.push_back(
        {DialogId::kAccessLists,
         328,
         270,
         "MS Shell Dlg",
         8,
         "Access rights",
         false,
         {
             {1000, K::ListView, "", 15, 48, 240, 153},
             {1018, K::PushButton, "Add...", 263, 48, 50, 14},
             {1003, K::PushButton, "Edit...", 263, 65, 50, 14},
             {1004, K::PushButton, "Delete", 263, 82, 50, 14},
             {1033, K::CheckBox, "Can get the updates", 20, 225, 131, 10},
             {1034, K::CheckBox, "Can post the updates", 155, 225, 138, 10},
             {1, K::DefPushButton, "OK", 218, 249, 50, 14},
             {2, K::PushButton, "Cancel", 271, 249, 50, 14},
             {1001, K::GroupBox, "Access rights", 7, 35, 314, 172},
             {1026, K::GroupBox, "Access rights for default host", 7, 210, 314, 32},
             {1008, K::Label,
              "Set the access rights for network hosts. The default rights will be applied to "
              "all hosts, which are not listed below.",
              7, 7, 314, 23},
         }});
    all.push_back(
        {DialogId::kSettings,
         323,
         273,
         "MS Shell Dlg",
         8,
         "Settings",
         false,
         {
             {1023, K::CheckBox, "Common whitelist of email addresses", 21, 22, 292, 10},
             {1021, K::Edit, "", 187, 35, 40, 14},
             {1003, K::PushButton, "Clear", 233, 35, 68, 14},
             {1024, K::CheckBox, "Common database of email message descriptors", 21, 62, 291, 10},
             {1022, K::Edit, "", 187, 76, 40, 14},
             {1004, K::PushButton, "Clear", 233, 76, 68, 14},
             {1025, K::Edit, "", 208, 120, 34, 14},
             {1038, K::Edit, "", 208, 139, 100, 14},
             {1009, K::PushButton, "ACL", 207, 158, 36, 14},
             {1014, K::CheckBox, "Enable logging", 20, 193, 80, 10},
             {1015, K::Edit, "", 265, 193, 40, 14},
             {1016, K::UpDown, "", 304, 193, 11, 14},
             {1, K::DefPushButton, "OK", 204, 247, 50, 14},
             {2, K::PushButton, "Cancel", 258, 247, 50, 14},
             {1030, K::GroupBox, "Synchronization entities", 7, 7, 309, 99},
             {1027, K::RightLabel, "TCP server port:", 28, 124, 176, 8},
             {1037, K::RightLabel, "Listen on addresses:", 28, 142, 176, 8},
             {1028, K::RightLabel, "Access restrictions:", 28, 161, 176, 8},
             {1031, K::GroupBox, "Network", 8, 107, 309, 72},
             {1032, K::GroupBox, "Logging", 8, 181, 309, 28},
             {1029, K::RightLabel, "Daily log files lifetime:", 102, 193, 159, 8},
             {1001, K::RightLabel, "Maximum number of items:", 16, 38, 168, 8},
             {1026, K::RightLabel, "Maximum number of items:", 25, 79, 159, 8},
             {kNoId, K::EtchedLine, "", 17, 57, 294, 1},
             {1005, K::ReadOnlyEdit, "", 15, 223, 297, 14},
             {1036, K::GroupBox, "Service data folder on the server", 8, 210, 309, 31},
         }});
    all.push_back({DialogId::kHost,
                   223,
                   89,
                   "MS Shell Dlg",
                   8,
                   "Host access rights",
                   false,
                   {
                       {1005, K::Edit, "", 7, 17, 209, 14},
                       {1033, K::CheckBox, "Can get the updates", 7, 36, 209, 10},
                       {1034, K::CheckBox, "Can post the updates", 7, 50, 209, 10},
                       {1, K::DefPushButton, "OK", 105, 68, 50, 14},
                       {2, K::PushButton, "Cancel", 159, 68, 50, 14},
                       {1001, K::Label, "Full host name:", 7, 7, 50, 8},
                   }});
    return all;
}

}  // namespace

const std::vector<DialogTemplate>& dialogTemplates() {
    static const std::vector<DialogTemplate> templates = makeTemplates();
    return templates;
}

const DialogTemplate* findDialogTemplate(int id) {
    for (const DialogTemplate& dialog : dialogTemplates()) {
        if (dialog.id == id)
            return &dialog;
    }
    return nullptr;
}

const char* controlClassName(ControlKind kind) {
    switch (kind) {
        case K::PushButton:
        case K::DefPushButton:
        case K::CheckBox:
        case K::GroupBox:
            return "Button";
        case K::Label:
        case K::RightLabel:
        case K::Icon:
        case K::EtchedLine:
            return "Static";
        case K::Edit:
        case K::ReadOnlyEdit:
            return "Edit";
        case K::ListView:
            return "SysListView32";
        case K::UpDown:
            return "msctls_updown32";
    }
    return "";
}

int defaultCommandId(const DialogTemplate& dialog) {
    for (const ControlTemplate& control : dialog.controls) {
        if (control.kind == K::DefPushButton)
            return control.id;
    }
    return kIdOk;
}
