#pragma once

#include <string>
#include <vector>

// The few dialog facilities the console's logic relies on. The program implements them
// with Qt widgets; the tests implement them in memory.

enum class MessageButtons { Ok, YesNo };
enum class MessageIcon { None, Information, Question, Error };
enum class MessageAnswer { Ok, Yes, No };

struct ListColumn {
    enum class Align { Left, Center };
    std::string title;
    int width = 0;  // pixels
    Align align = Align::Left;
};

// One child window of a dialog as the text translation sees it.
struct ControlInfo {
    int id = 0;
    std::string className;  // "Button", "Static", "Edit", ...
};

// A dialog on screen. Controls are addressed by their id.
class DialogView {
  public:
    virtual ~DialogView() = default;

    virtual std::string caption() const = 0;
    virtual void setCaption(const std::string& text) = 0;
    // Every child window, children of children included, in creation order.
    virtual std::vector<ControlInfo> controls() const = 0;

    virtual std::string text(int id) const = 0;
    virtual void setText(int id, const std::string& text) = 0;
    virtual bool isEnabled(int id) const = 0;
    virtual void setEnabled(int id, bool enabled) = 0;
    virtual bool isChecked(int id) const = 0;
    virtual void setChecked(int id, bool checked) = 0;
    virtual void setFocus(int id) = 0;
    // Id of the control holding the keyboard focus, 0 when none of this dialog's has it.
    virtual int focusedControl() const = 0;

    // A status bar with one text part along the bottom edge.
    virtual void createStatusBar(const std::string& text) = 0;
    virtual void setStatusText(const std::string& text) = 0;

    virtual void setUpDownRange(int id, int minimum, int maximum) = 0;

    // Report-mode list view. Rows are kept sorted by their first cell, ignoring ASCII case.
    virtual int listClientWidth(int id) const = 0;
    virtual void setListColumns(int id, const std::vector<ListColumn>& columns) = 0;
    // Returns the position at which the row was placed.
    virtual int appendListRow(int id, const std::vector<std::string>& cells) = 0;
    virtual void setListCell(int id, int row, int column, const std::string& text) = 0;
    virtual std::string listCell(int id, int row, int column) const = 0;
    virtual void deleteListRow(int id, int row) = 0;
    virtual void deleteAllListRows(int id) = 0;
    virtual int listRowCount(int id) const = 0;
    virtual int listSelectedCount(int id) const = 0;
    // First selected row after the given one (-1 searches from the start); -1 when none.
    virtual int nextSelectedListRow(int id, int after) const = 0;

    // Closes a modal dialog; its run returns the result.
    virtual void endDialog(int result) = 0;
};

// The behaviour of one dialog: what it does when it opens and when the user acts.
class DialogLogic {
  public:
    virtual ~DialogLogic() = default;

    virtual int templateId() const = 0;
    virtual void onInit(DialogView& view) = 0;
    // A button click, or the keyboard's commands: 1 for Enter, 2 for Esc and the close box.
    virtual void onCommand(int id) = 0;
    virtual void onListSelectionChanged(int /*id*/) {}
    virtual void onListDoubleClick(int /*id*/) {}
};

class Toolkit {
  public:
    virtual ~Toolkit() = default;

    // Builds the dialog's template, runs it modally over the owner (null: none) and
    // returns the result it was ended with.
    virtual int runModal(DialogLogic& dialog, DialogView* owner) = 0;
    virtual MessageAnswer messageBox(DialogView* owner, const std::string& text,
                                     const std::string& caption, MessageButtons buttons,
                                     MessageIcon icon) = 0;
};

// Where a list view row with this first cell goes among rows already placed: after every
// row that does not sort behind it, comparing without regard to ASCII case.
int sortedRowPosition(const std::vector<std::string>& firstCells, const std::string& text);
