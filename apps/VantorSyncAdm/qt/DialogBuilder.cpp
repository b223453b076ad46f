#include "apps/VantorSyncAdm/qt/DialogBuilder.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "apps/VantorSyncAdm/HostDlg.h"
#include "apps/VantorSyncAdm/qt/AppIcon.h"
#include "apps/VantorSyncAdm/qt/DialogUnits.h"
#include "apps/VantorSyncAdm/qt/QtDialog.h"
#include "apps/VantorSyncAdm/qt/UpDownControl.h"

namespace {

QWidget* makeControl(const ControlTemplate& control, QtDialog& dialog) {
    const QString text = QString::fromStdString(control.text);
    switch (control.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefPushButton: {
            auto* button = new QPushButton(text, &dialog);
            // Enter goes to the dialog, which turns it into the default command.
            button->setAutoDefault(false);
            button->setDefault(control.kind == ControlKind::DefPushButton);
            return button;
        }
        case ControlKind::CheckBox:
            return new QCheckBox(text, &dialog);
        case ControlKind::GroupBox:
            return new QGroupBox(text, &dialog);
        case ControlKind::Label:
        case ControlKind::RightLabel: {
            auto* label = new QLabel(text, &dialog);
            label->setWordWrap(true);
            label->setAlignment(
                Qt::AlignTop |
                (control.kind == ControlKind::RightLabel ? Qt::AlignRight : Qt::AlignLeft));
            return label;
        }
        case ControlKind::Icon: {
            auto* label = new QLabel(&dialog);
            label->setPixmap(appIcon().pixmap(32, 32));
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return label;
        }
        case ControlKind::EtchedLine: {
            auto* line = new QFrame(&dialog);
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Sunken);
            return line;
        }
        case ControlKind::Edit:
        case ControlKind::ReadOnlyEdit: {
            auto* edit = new QLineEdit(&dialog);
            edit->setReadOnly(control.kind == ControlKind::ReadOnlyEdit);
            return edit;
        }
        case ControlKind::ListView: {
            auto* table = new QTableWidget(&dialog);
            table->setColumnCount(0);
            table->verticalHeader()->hide();
            table->horizontalHeader()->setSectionsClickable(false);
            table->horizontalHeader()->setHighlightSections(false);
            table->setSelectionBehavior(QAbstractItemView::SelectRows);
            table->setSelectionMode(QAbstractItemView::ExtendedSelection);
            table->setEditTriggers(QAbstractItemView::NoEditTriggers);
            table->setShowGrid(true);
            table->setWordWrap(false);
            table->setTabKeyNavigation(false);
            table->setSortingEnabled(false);
            table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
            return table;
        }
        case ControlKind::UpDown:
            return new UpDownControl(&dialog);
    }
    return nullptr;
}

}  // namespace

void DialogBuilder::build(const DialogTemplate& dialog, QtDialog& into) {
    const QFont font = dialogFont(dialog.fontFace, dialog.pointSize);
    into.setFont(font);
    const DialogUnits units(font);
    into.setFixedSize(units.toPixelsX(dialog.width), units.toPixelsY(dialog.height));
    into.setWindowTitle(QString::fromStdString(dialog.caption));
    into.setWindowIcon(appIcon());

    QWidget* previous = nullptr;
    std::vector<QWidget*> frames;
    for (const ControlTemplate& control : dialog.controls) {
        QWidget* widget = makeControl(control, into);
        QRect area = units.toPixels(control.x, control.y, control.width, control.height);
        if (control.kind == ControlKind::EtchedLine)
            area.setHeight(std::max(area.height(), 2));
        widget->setGeometry(area);
        if (control.kind == ControlKind::UpDown) {
            if (auto* buddy = qobject_cast<QLineEdit*>(previous))
                static_cast<UpDownControl*>(widget)->attach(buddy);
        }
        if (control.kind == ControlKind::GroupBox)
            frames.push_back(widget);
        if (dialog.id == DialogId::kHost && control.id == HostDlg::kName)
            static_cast<QLineEdit*>(widget)->setMaxLength(HostDlg::kMaxNameLength);
        into.addControl(control.id, control.kind, widget);
        previous = widget;
    }
    // Group boxes only frame their neighbours; they must not cover them.
    for (QWidget* frame : frames)
        frame->lower();
}
