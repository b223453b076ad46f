// Every dialog as each installed style paints it (the one Qt picks by default among them):
// a control either lies wholly inside a group box's frame, below its title, or stays clear
// of the frame altogether. The frame is read from the painted pixels, because a style's
// idea of its frame rectangle and the lines it draws can differ by a few pixels.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QImage>
#include <QPixmap>
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

// The first and last positions along a line of pixels that differ from the background.
std::pair<int, int> paintedSpan(const QImage& image, bool rows, int at, QRgb background) {
    const int length = rows ? image.height() : image.width();
    int first = -1;
    int last = -1;
    for (int i = 0; i < length; ++i) {
        const QRgb pixel = rows ? image.pixel(at, i) : image.pixel(i, at);
        if ((pixel & 0xffffff) != (background & 0xffffff)) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    return {first, last};
}

// The area inside the painted frame lines (with one pixel to spare for a double or shaded
// line) and below the title, in the dialog's coordinates. The frame is found along a column
// near the right edge, where no title is drawn, and a row halfway down the frame.
QRect insideOfFrame(QGroupBox& box) {
    const QImage image = box.grab().toImage();
    const int column = image.width() - 8;
    const QRgb background = image.pixel(column, 0);
    const auto [top, bottom] = paintedSpan(image, true, column, background);
    const auto [left, right] = paintedSpan(image, false, (top + bottom) / 2, background);
    QRect inside(QPoint(left + 2, top + 2), QPoint(right - 2, bottom - 2));

    QStyleOptionGroupBox option;
    option.initFrom(&box);
    option.text = box.title();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    const QRect label =
        box.style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, &box);
    if (!box.title().isEmpty())
        inside.setTop(std::max(inside.top(), label.bottom() + 1));
    return inside.translated(box.geometry().topLeft());
}

QString describe(const QRect& r) {
    return QString("(%1,%2 %3x%4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

void expectNoControlCrossesAFrame(const QString& styleName) {
    QApplication::setStyle(QStyleFactory::create(styleName));
    for (const DialogTemplate& dialog : dialogTemplates()) {
        NoLogic logic(dialog.id);
        QtDialog window(dialog, logic, nullptr);
        window.show();
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
                    << styleName.toStdString() << ", dialog " << dialog.id << ": control "
                    << child->property(QtDialog::kControlIdProperty).toInt() << " "
                    << describe(area).toStdString() << " leaves group box \""
                    << box->title().toStdString() << "\" " << describe(inside).toStdString();
            }
        }
    }
}

}  // namespace

TEST(QtLayoutTest, NoControlCrossesAGroupBoxFrameUnderAnyStyle) {
    const QString initial = QApplication::style()->name();
    QStringList styles = QStyleFactory::keys();
    ASSERT_TRUE(styles.contains("Fusion", Qt::CaseInsensitive));
    for (const QString& style : styles)
        expectNoControlCrossesAFrame(style);
    QApplication::setStyle(QStyleFactory::create(initial));
}
