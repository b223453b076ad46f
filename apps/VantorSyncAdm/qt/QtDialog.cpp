#include "apps/VantorSyncAdm/qt/QtDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>

#include "apps/VantorSyncAdm/qt/DialogBuilder.h"
#include "apps/VantorSyncAdm/qt/UpDownControl.h"

namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

Qt::WindowFlags frameFlags(const DialogTemplate& dialog, bool owned) {
    Qt::WindowFlags flags = (owned ? Qt::Dialog : Qt::Window) | Qt::CustomizeWindowHint |
                            Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint;
    if (dialog.minimizeBox)
        flags |= Qt::WindowMinimizeButtonHint;
    return flags;
}

}  // namespace

QtDialog::QtDialog(const DialogTemplate& dialog, DialogLogic& logic, QWidget* parent)
    : QDialog(parent), template_(dialog), logic_(logic) {
    setWindowFlags(frameFlags(dialog, parent != nullptr));
    setProperty(kClassNameProperty, "#32770");
    DialogBuilder::build(dialog, *this);
}

QtDialog::~QtDialog() = default;

void QtDialog::addControl(int id, ControlKind kind, QWidget* widget) {
    widget->setProperty(kControlIdProperty, id);
    widget->setProperty(kClassNameProperty, controlClassName(kind));
    entries_.push_back(Entry{id, kind, widget});
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        connect(button, &QAbstractButton::clicked, this, [this, id] { command(id); });
    } else if (auto* table = qobject_cast<QTableWidget*>(widget)) {
        connect(table, &QTableWidget::itemSelectionChanged, this,
                [this, id] { logic_.onListSelectionChanged(id); });
        table->viewport()->installEventFilter(this);
    }
}

int QtDialog::run() {
    logic_.onInit(*this);
    if (ended_)
        return result_;
    return exec();
}

const QtDialog::Entry* QtDialog::find(int id) const {
    for (const Entry& entry : entries_) {
        if (entry.id == id && id != kNoId)
            return &entry;
    }
    return nullptr;
}

QWidget* QtDialog::control(int id) const {
    const Entry* entry = find(id);
    return entry ? entry->widget : nullptr;
}

QTableWidget* QtDialog::list(int id) const {
    return qobject_cast<QTableWidget*>(control(id));
}

void QtDialog::command(int id) {
    logic_.onCommand(id);
}

std::string QtDialog::caption() const {
    return windowTitle().toStdString();
}

void QtDialog::setCaption(const std::string& text) {
    setWindowTitle(qt(text));
}

std::vector<ControlInfo> QtDialog::controls() const {
    std::vector<ControlInfo> all;
    for (const Entry& entry : entries_) {
        all.push_back(ControlInfo{
            entry.id, entry.widget->property(kClassNameProperty).toString().toStdString()});
    }
    return all;
}

std::string QtDialog::text(int id) const {
    QWidget* widget = control(id);
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text().toStdString();
    if (auto* group = qobject_cast<QGroupBox*>(widget))
        return group->title().toStdString();
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text().toStdString();
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return edit->text().toStdString();
    return std::string();
}

void QtDialog::setText(int id, const std::string& text) {
    QWidget* widget = control(id);
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        button->setText(qt(text));
    else if (auto* group = qobject_cast<QGroupBox*>(widget))
        group->setTitle(qt(text));
    else if (auto* label = qobject_cast<QLabel*>(widget))
        label->setText(qt(text));
    else if (auto* edit = qobject_cast<QLineEdit*>(widget))
        edit->setText(qt(text));
}

bool QtDialog::isEnabled(int id) const {
    QWidget* widget = control(id);
    return widget != nullptr && widget->isEnabled();
}

void QtDialog::setEnabled(int id, bool enabled) {
    if (QWidget* widget = control(id))
        widget->setEnabled(enabled);
}

bool QtDialog::isChecked(int id) const {
    auto* box = qobject_cast<QCheckBox*>(control(id));
    return box != nullptr && box->isChecked();
}

void QtDialog::setChecked(int id, bool checked) {
    if (auto* box = qobject_cast<QCheckBox*>(control(id)))
        box->setChecked(checked);
}

void QtDialog::setFocus(int id) {
    if (QWidget* widget = control(id))
        widget->setFocus(Qt::OtherFocusReason);
}

int QtDialog::focusedControl() const {
    QWidget* focus = focusWidget();
    for (QWidget* widget = focus; widget != nullptr && widget != this;
         widget = widget->parentWidget()) {
        for (const Entry& entry : entries_) {
            if (entry.widget == widget)
                return entry.id;
        }
    }
    return 0;
}

void QtDialog::createStatusBar(const std::string& text) {
    auto* bar = new QStatusBar(this);
    bar->setSizeGripEnabled(false);
    statusText_ = new QLabel(qt(text), bar);
    bar->addWidget(statusText_, 1);
    const int height = bar->sizeHint().height();
    bar->setGeometry(0, this->height() - height, width(), height);
    bar->setProperty(kControlIdProperty, kStatusBarId);
    bar->setProperty(kClassNameProperty, "msctls_statusbar32");
    entries_.push_back(Entry{kStatusBarId, ControlKind::Label, bar});
    bar->show();
}

void QtDialog::setStatusText(const std::string& text) {
    if (statusText_ != nullptr)
        statusText_->setText(qt(text));
}

void QtDialog::setUpDownRange(int id, int minimum, int maximum) {
    if (auto* upDown = dynamic_cast<UpDownControl*>(control(id)))
        upDown->setRange(minimum, maximum);
}

int QtDialog::listClientWidth(int id) const {
    QTableWidget* table = list(id);
    return table ? table->width() - 2 * table->frameWidth() : 0;
}

void QtDialog::setListColumns(int id, const std::vector<ListColumn>& columns) {
    QTableWidget* table = list(id);
    if (table == nullptr)
        return;
    columns_ = columns;
    table->setColumnCount(static_cast<int>(columns.size()));
    for (int column = 0; column < static_cast<int>(columns.size()); ++column) {
        auto* header = new QTableWidgetItem(qt(columns[column].title));
        header->setTextAlignment(columns[column].align == ListColumn::Align::Center
                                     ? Qt::AlignCenter
                                     : Qt::AlignLeft | Qt::AlignVCenter);
        table->setHorizontalHeaderItem(column, header);
        table->setColumnWidth(column, columns[column].width);
    }
}

int QtDialog::appendListRow(int id, const std::vector<std::string>& cells) {
    QTableWidget* table = list(id);
    if (table == nullptr || cells.empty())
        return -1;
    std::vector<std::string> firstCells;
    for (int row = 0; row < table->rowCount(); ++row)
        firstCells.push_back(listCell(id, row, 0));
    const int position = sortedRowPosition(firstCells, cells[0]);
    table->insertRow(position);
    for (int column = 0; column < static_cast<int>(cells.size()); ++column)
        setListCell(id, position, column, cells[column]);
    return position;
}

void QtDialog::setListCell(int id, int row, int column, const std::string& text) {
    QTableWidget* table = list(id);
    if (table == nullptr || row < 0 || row >= table->rowCount() || column < 0 ||
        column >= table->columnCount())
        return;
    auto* item = new QTableWidgetItem(qt(text));
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    const bool centred = column < static_cast<int>(columns_.size()) &&
                         columns_[column].align == ListColumn::Align::Center;
    item->setTextAlignment(centred ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
    table->setItem(row, column, item);
}

std::string QtDialog::listCell(int id, int row, int column) const {
    QTableWidget* table = list(id);
    QTableWidgetItem* item = table ? table->item(row, column) : nullptr;
    return item ? item->text().toStdString() : std::string();
}

void QtDialog::deleteListRow(int id, int row) {
    if (QTableWidget* table = list(id))
        table->removeRow(row);
}

void QtDialog::deleteAllListRows(int id) {
    if (QTableWidget* table = list(id))
        table->setRowCount(0);
}

int QtDialog::listRowCount(int id) const {
    QTableWidget* table = list(id);
    return table ? table->rowCount() : 0;
}

int QtDialog::listSelectedCount(int id) const {
    QTableWidget* table = list(id);
    return table ? static_cast<int>(table->selectionModel()->selectedRows().size()) : 0;
}

int QtDialog::nextSelectedListRow(int id, int after) const {
    QTableWidget* table = list(id);
    if (table == nullptr)
        return -1;
    for (int row = std::max(after + 1, 0); row < table->rowCount(); ++row) {
        if (table->selectionModel()->isRowSelected(row, QModelIndex()))
            return row;
    }
    return -1;
}

void QtDialog::endDialog(int result) {
    ended_ = true;
    result_ = result;
    done(result);
}

void QtDialog::keyPressEvent(QKeyEvent* event) {
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && event->key() == Qt::Key_Escape) {
        command(kIdCancel);
        return;
    }
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        // As the dialog manager does: a focused push button takes Enter, otherwise the
        // default button does.
        int id = defaultCommandId(template_);
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            for (const Entry& entry : entries_) {
                if (entry.widget == button && button->isEnabled() && entry.id != kNoId)
                    id = entry.id;
            }
        }
        command(id);
        return;
    }
    QDialog::keyPressEvent(event);
}

void QtDialog::closeEvent(QCloseEvent* event) {
    // The close box is the Cancel command; the logic decides whether the dialog ends.
    event->ignore();
    if (!ended_)
        command(kIdCancel);
}

void QtDialog::reject() {
    if (!ended_)
        command(kIdCancel);
}

bool QtDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        for (const Entry& entry : entries_) {
            auto* table = qobject_cast<QTableWidget*>(entry.widget);
            if (table != nullptr && table->viewport() == watched) {
                // Let the list select the row under the pointer first.
                bool handled = QDialog::eventFilter(watched, event);
                logic_.onListDoubleClick(entry.id);
                return handled;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}
