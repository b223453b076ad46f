// Every dialog as the Fusion style draws it: a control either lies wholly inside a group
// box's frame, below its title, or stays clear of the frame altogether.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionGroupBox>

#include "apps/VantorSyncAdm/DialogTemplate.h"
#include "apps/VantorSyncAdm/qt/QtDialog.h"

namespace {

class NoLogic : public DialogLogic {
  public:
    explicit NoLogic(int id) : id_(id) {}
    int templateId() const override { return id_; }
    void onInit(DialogView&) override {}
    void onCommand(int) override {}

  private:
    int id_;
};

// The area inside the frame's lines and below the title, in the dialog's coordinates.
QRect insideOfFrame(QGroupBox& box) {
    QStyleOptionGroupBox option;
    option.initFrom(&box);
    option.text = box.title();
    option.lineWidth = 1;
    option.midLineWidth = 0;
    option.textAlignment = box.alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    option.features = QStyleOptionFrame::None;
    QStyle* style = box.style();
    QRect frame =
        style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxFrame, &box);
    QRect label =
        style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, &box);
    QRect inside = frame.adjusted(1, 1, -1, -1);
    if (!box.title().isEmpty())
        inside.setTop(std::max(inside.top(), label.bottom() + 1));
    return inside.translated(box.geometry().topLeft());
}

QString describe(const QRect& r) {
    return QString("(%1,%2 %3x%4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

}  // namespace

TEST(QtLayoutTest, NoControlCrossesAGroupBoxFrameUnderFusion) {
    const QString previous = QApplication::style()->name();
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    for (const DialogTemplate& dialog : dialogTemplates()) {
        NoLogic logic(dialog.id);
        QtDialog window(dialog, logic, nullptr);
        std::vector<QGroupBox*> boxes;
        for (QGroupBox* box : window.findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly))
            boxes.push_back(box);
        for (QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (qobject_cast<QGroupBox*>(child) != nullptr || child->isWindow())
                continue;
            const QRect area = child->geometry();
            for (QGroupBox* box : boxes) {
                if (!area.intersects(box->geometry()))
                    continue;
                const QRect inside = insideOfFrame(*box);
                EXPECT_TRUE(inside.contains(area))
                    << "dialog " << dialog.id << ": control "
                    << child->property(QtDialog::kControlIdProperty).toInt() << " "
                    << describe(area).toStdString() << " leaves group box \""
                    << box->title().toStdString() << "\" " << describe(inside).toStdString();
            }
        }
    }
    QApplication::setStyle(previous);
}
