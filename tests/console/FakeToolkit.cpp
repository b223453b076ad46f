#include "tests/console/FakeToolkit.h"

#include <stdexcept>

FakeDialogView::FakeDialogView(const DialogTemplate& dialog, DialogLogic& logic)
    : template_(dialog), logic_(logic), caption_(dialog.caption) {
    for (const ControlTemplate& control : dialog.controls) {
        if (control.id == kNoId)
            continue;
        controls_[control.id] = Control{control.kind, control.text};
        order_.push_back(control.id);
    }
}

std::vector<ControlInfo> FakeDialogView::controls() const {
    std::vector<ControlInfo> all;
    for (const ControlTemplate& control : template_.controls)
        all.push_back(ControlInfo{control.id, controlClassName(control.kind)});
    return all;
}

FakeDialogView::Control& FakeDialogView::control(int id) {
    auto found = controls_.find(id);
    if (found == controls_.end())
        throw std::out_of_range("no control " + std::to_string(id));
    return found->second;
}

const FakeDialogView::Control& FakeDialogView::control(int id) const {
    return const_cast<FakeDialogView*>(this)->control(id);
}

std::string FakeDialogView::text(int id) const {
    return control(id).text;
}
void FakeDialogView::setText(int id, const std::string& text) {
    control(id).text = text;
}
bool FakeDialogView::isEnabled(int id) const {
    return control(id).enabled;
}
void FakeDialogView::setEnabled(int id, bool enabled) {
    control(id).enabled = enabled;
}
bool FakeDialogView::isChecked(int id) const {
    return control(id).checked;
}
void FakeDialogView::setChecked(int id, bool checked) {
    control(id).checked = checked;
}

void FakeDialogView::createStatusBar(const std::string& text) {
    hasStatusBar_ = true;
    statusText_ = text;
}

void FakeDialogView::setUpDownRange(int id, int minimum, int maximum) {
    control(id);
    upDownRanges_[id] = {minimum, maximum};
}

void FakeDialogView::setListColumns(int id, const std::vector<ListColumn>& columns) {
    control(id);
    columns_ = columns;
}

int FakeDialogView::appendListRow(int id, const std::vector<std::string>& cells) {
    control(id);
    std::vector<std::string> firstCells;
    for (const Row& row : rows_)
        firstCells.push_back(row.cells.at(0));
    int position = sortedRowPosition(firstCells, cells.at(0));
    rows_.insert(rows_.begin() + position, Row{cells, false});
    return position;
}

void FakeDialogView::setListCell(int id, int row, int column, const std::string& text) {
    control(id);
    rows_.at(row).cells.at(column) = text;
}

std::string FakeDialogView::listCell(int id, int row, int column) const {
    control(id);
    return rows_.at(row).cells.at(column);
}

void FakeDialogView::deleteListRow(int id, int row) {
    control(id);
    rows_.erase(rows_.begin() + row);
}

void FakeDialogView::deleteAllListRows(int id) {
    control(id);
    rows_.clear();
}

int FakeDialogView::listRowCount(int id) const {
    control(id);
    return static_cast<int>(rows_.size());
}

int FakeDialogView::listSelectedCount(int id) const {
    control(id);
    int count = 0;
    for (const Row& row : rows_)
        count += row.selected ? 1 : 0;
    return count;
}

int FakeDialogView::nextSelectedListRow(int id, int after) const {
    control(id);
    for (int row = after + 1; row < static_cast<int>(rows_.size()); ++row) {
        if (rows_[row].selected)
            return row;
    }
    return -1;
}

void FakeDialogView::endDialog(int result) {
    ended_ = true;
    result_ = result;
}

void FakeDialogView::open() {
    logic_.onInit(*this);
}

void FakeDialogView::click(int id) {
    Control& clicked = control(id);
    if (!clicked.enabled)
        return;
    if (clicked.kind == ControlKind::CheckBox)
        clicked.checked = !clicked.checked;
    focus_ = id;
    logic_.onCommand(id);
}

void FakeDialogView::pressEnter() {
    logic_.onCommand(defaultCommandId(template_));
}

void FakeDialogView::selectRows(int listId, const std::vector<int>& rows) {
    control(listId);
    for (Row& row : rows_)
        row.selected = false;
    for (int row : rows)
        rows_.at(row).selected = true;
    logic_.onListSelectionChanged(listId);
}

std::vector<std::vector<std::string>> FakeDialogView::listRows() const {
    std::vector<std::vector<std::string>> all;
    for (const Row& row : rows_)
        all.push_back(row.cells);
    return all;
}

int FakeToolkit::runModal(DialogLogic& dialog, DialogView* /*owner*/) {
    const DialogTemplate* found = findDialogTemplate(dialog.templateId());
    if (found == nullptr)
        throw std::out_of_range("no template");
    ++runs_[dialog.templateId()];
    FakeDialogView view(*found, dialog);
    view.open();
    if (view.ended())
        return view.result();
    auto& queue = scripts_[dialog.templateId()];
    if (queue.empty()) {
        ++unscriptedRuns_;
        return kIdCancel;
    }
    Script script = queue.front();
    queue.pop_front();
    script(view);
    return view.ended() ? view.result() : kIdCancel;
}

MessageAnswer FakeToolkit::messageBox(DialogView* owner, const std::string& text,
                                      const std::string& caption, MessageButtons buttons,
                                      MessageIcon icon) {
    messages_.push_back(ShownMessage{text, caption, buttons, icon, owner != nullptr});
    if (!answers_.empty()) {
        MessageAnswer answer = answers_.front();
        answers_.pop_front();
        return answer;
    }
    return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
}

int FakeToolkit::runs(int templateId) const {
    auto found = runs_.find(templateId);
    return found == runs_.end() ? 0 : found->second;
}
