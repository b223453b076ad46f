#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "apps/VantorSyncAdm/DialogTemplate.h"
#include "apps/VantorSyncAdm/DialogToolkit.h"

// A dialog held in memory: the controls of its template with their state, and helpers
// that act as the user would.
class FakeDialogView : public DialogView {
  public:
    struct Control {
        ControlKind kind;
        std::string text;
        bool enabled = true;
        bool checked = false;
    };
    struct Row {
        std::vector<std::string> cells;
        bool selected = false;
    };

    FakeDialogView(const DialogTemplate& dialog, DialogLogic& logic);

    // DialogView
    std::string caption() const override { return caption_; }
    void setCaption(const std::string& text) override { caption_ = text; }
    std::vector<ControlInfo> controls() const override;
    std::string text(int id) const override;
    void setText(int id, const std::string& text) override;
    bool isEnabled(int id) const override;
    void setEnabled(int id, bool enabled) override;
    bool isChecked(int id) const override;
    void setChecked(int id, bool checked) override;
    void setFocus(int id) override { focus_ = id; }
    int focusedControl() const override { return focus_; }
    void createStatusBar(const std::string& text) override;
    void setStatusText(const std::string& text) override { statusText_ = text; }
    void setUpDownRange(int id, int minimum, int maximum) override;
    int listClientWidth(int) const override { return 480; }
    void setListColumns(int id, const std::vector<ListColumn>& columns) override;
    int appendListRow(int id, const std::vector<std::string>& cells) override;
    void setListCell(int id, int row, int column, const std::string& text) override;
    std::string listCell(int id, int row, int column) const override;
    void deleteListRow(int id, int row) override;
    void deleteAllListRows(int id) override;
    int listRowCount(int id) const override;
    int listSelectedCount(int id) const override;
    int nextSelectedListRow(int id, int after) const override;
    void endDialog(int result) override;

    // The user's side.
    void open();  // runs the dialog's initialisation
    void click(int id);
    void type(int id, const std::string& text) { setText(id, text); }
    void pressEnter();
    void pressEscape() { logic_.onCommand(kIdCancel); }
    void selectRows(int listId, const std::vector<int>& rows);
    void doubleClickList(int listId) { logic_.onListDoubleClick(listId); }

    bool ended() const { return ended_; }
    int result() const { return result_; }
    const std::string& statusText() const { return statusText_; }
    bool hasStatusBar() const { return hasStatusBar_; }
    std::pair<int, int> upDownRange(int id) const { return upDownRanges_.at(id); }
    const std::vector<ListColumn>& listColumns() const { return columns_; }
    // Every row's cells in display order.
    std::vector<std::vector<std::string>> listRows() const;

  private:
    Control& control(int id);
    const Control& control(int id) const;

    const DialogTemplate& template_;
    DialogLogic& logic_;
    std::string caption_;
    std::map<int, Control> controls_;
    std::vector<int> order_;
    int focus_ = 0;
    bool hasStatusBar_ = false;
    std::string statusText_;
    std::map<int, std::pair<int, int>> upDownRanges_;
    std::vector<ListColumn> columns_;
    std::vector<Row> rows_;
    bool ended_ = false;
    int result_ = 0;
};

struct ShownMessage {
    std::string text;
    std::string caption;
    MessageButtons buttons;
    MessageIcon icon;
    bool owned;
};

// Runs dialogs in memory. Each run of a template takes the next script queued for it,
// which plays the user; a run without a script is cancelled.
class FakeToolkit : public Toolkit {
  public:
    using Script = std::function<void(FakeDialogView&)>;

    int runModal(DialogLogic& dialog, DialogView* owner) override;
    MessageAnswer messageBox(DialogView* owner, const std::string& text, const std::string& caption,
                             MessageButtons buttons, MessageIcon icon) override;

    void expect(int templateId, Script script) { scripts_[templateId].push_back(script); }
    void answer(MessageAnswer answer) { answers_.push_back(answer); }

    const std::vector<ShownMessage>& messages() const { return messages_; }
    int runs(int templateId) const;
    int unscriptedRuns() const { return unscriptedRuns_; }

  private:
    std::map<int, std::deque<Script>> scripts_;
    std::deque<MessageAnswer> answers_;
    std::vector<ShownMessage> messages_;
    std::map<int, int> runs_;
    int unscriptedRuns_ = 0;
};
