#pragma once

#include <string>
#include <vector>

// The console's dialogs as data: every control with its id, kind, text and position in
// dialog units. One builder turns a template into widgets.

enum class ControlKind {
    PushButton,
    DefPushButton,
    CheckBox,
    GroupBox,
    Label,
    RightLabel,
    Icon,  // shows the application icon
    EtchedLine,
    Edit,
    ReadOnlyEdit,
    ListView,
    UpDown,  // attaches itself to the control before it
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    std::string text;
    int x, y, width, height;  // dialog units
};

struct DialogTemplate {
    int id;
    int width, height;  // dialog units
    std::string fontFace;
    int pointSize;
    std::string caption;
    bool minimizeBox;
    std::vector<ControlTemplate> controls;  // in tab order
};

namespace DialogId {
constexpr int kAbout = 100;
constexpr int kMain = 129;
constexpr int kAccessLists = 203;
constexpr int kSettings = 205;
constexpr int kHost = 206;
}  // namespace DialogId

// Control ids with a meaning of their own in every dialog.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kNoId = -1;
constexpr int kStatusBarId = 59393;
constexpr int kIconResource = 128;

const std::vector<DialogTemplate>& dialogTemplates();
// Null for an unknown id.
const DialogTemplate* findDialogTemplate(int id);
// The window class a control of this kind has, as the text translation expects it.
const char* controlClassName(ControlKind kind);
// Id of the default push button, or kIdOk when the dialog has none.
int defaultCommandId(const DialogTemplate& dialog);
