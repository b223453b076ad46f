#include "apps/VantorSyncAdm/qt/QtToolkit.h"

#include <QApplication>
#include <QMessageBox>

#include "apps/VantorSyncAdm/qt/QtDialog.h"

namespace {

QWidget* ownerWidget(DialogView* owner) {
    if (auto* dialog = dynamic_cast<QtDialog*>(owner))
        return dialog;
    return nullptr;
}

}  // namespace

int QtToolkit::runModal(DialogLogic& logic, DialogView* owner) {
    const DialogTemplate* dialog = findDialogTemplate(logic.templateId());
    if (dialog == nullptr)
        return 0;
    QWidget* parent = ownerWidget(owner);
    if (parent == nullptr && owner != nullptr)
        parent = QApplication::activeWindow();
    QtDialog window(*dialog, logic, parent);
    return window.run();
}

MessageAnswer QtToolkit::messageBox(DialogView* owner, const std::string& text,
                                    const std::string& caption, MessageButtons buttons,
                                    MessageIcon icon) {
    QMessageBox::Icon shown = icon == MessageIcon::Question      ? QMessageBox::Question
                              : icon == MessageIcon::Information ? QMessageBox::Information
                              : icon == MessageIcon::Error       ? QMessageBox::Critical
                                                                 : QMessageBox::NoIcon;
    QMessageBox::StandardButtons offered = buttons == MessageButtons::YesNo
                                               ? QMessageBox::Yes | QMessageBox::No
                                               : QMessageBox::StandardButtons(QMessageBox::Ok);
    QMessageBox box(shown, QString::fromStdString(caption), QString::fromStdString(text), offered,
                    ownerWidget(owner));
    box.setWindowIcon(QApplication::windowIcon());
    switch (box.exec()) {
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        default:
            return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
}
