#pragma once

#include <QDialog>
#include <map>
#include <vector>

#include "apps/VantorSyncAdm/DialogTemplate.h"
#include "apps/VantorSyncAdm/DialogToolkit.h"

class QLabel;
class QTableWidget;

// A dialog built from a template, with its logic attached: clicks, list notifications and
// the keyboard's Enter, Esc and close box reach the logic as commands.
class QtDialog : public QDialog, public DialogView {
  public:
    static constexpr const char* kControlIdProperty = "controlId";
    static constexpr const char* kClassNameProperty = "className";

    QtDialog(const DialogTemplate& dialog, DialogLogic& logic, QWidget* parent);
    ~QtDialog() override;

    // Initialises the dialog through its logic, then runs it unless the logic already ended
    // it; returns the result it ended with.
    int run();

    // The widget of a control, null when there is none.
    QWidget* control(int id) const;
    const DialogTemplate& dialogTemplate() const { return template_; }
    DialogLogic& logic() { return logic_; }

    // DialogView
    std::string caption() const override;
    void setCaption(const std::string& text) override;
    std::vector<ControlInfo> controls() const override;
    std::string text(int id) const override;
    void setText(int id, const std::string& text) override;
    bool isEnabled(int id) const override;
    void setEnabled(int id, bool enabled) override;
    bool isChecked(int id) const override;
    void setChecked(int id, bool checked) override;
    void setFocus(int id) override;
    int focusedControl() const override;
    void createStatusBar(const std::string& text) override;
    void setStatusText(const std::string& text) override;
    void setUpDownRange(int id, int minimum, int maximum) override;
    int listClientWidth(int id) const override;
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

    // Used by the builder.
    void addControl(int id, ControlKind kind, QWidget* widget);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Entry {
        int id;
        ControlKind kind;
        QWidget* widget;
    };
    const Entry* find(int id) const;
    QTableWidget* list(int id) const;
    void command(int id);

    const DialogTemplate& template_;
    DialogLogic& logic_;
    std::vector<Entry> entries_;
    std::vector<ListColumn> columns_;
    QLabel* statusText_ = nullptr;
    bool ended_ = false;
    int result_ = 0;
};
