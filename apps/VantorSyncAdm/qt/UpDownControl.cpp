#include "apps/VantorSyncAdm/qt/UpDownControl.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "apps/VantorSyncAdm/NumberText.h"

UpDownControl::UpDownControl(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int delta : {1, -1}) {
        auto* arrow = new QToolButton(this);
        arrow->setArrowType(delta > 0 ? Qt::UpArrow : Qt::DownArrow);
        arrow->setFocusPolicy(Qt::NoFocus);
        arrow->setAutoRepeat(true);
        arrow->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        arrow->setObjectName(delta > 0 ? "up" : "down");
        connect(arrow, &QToolButton::clicked, this, [this, delta] { step(delta); });
        layout->addWidget(arrow);
    }
}

void UpDownControl::attach(QLineEdit* buddy) {
    buddy_ = buddy;
    QRect field = buddy->geometry();
    const int width = std::min(geometry().width(), field.width() / 2);
    setGeometry(field.right() - width + 1, field.top(), width, field.height());
    buddy->resize(field.width() - width, field.height());
    buddy->installEventFilter(this);
}

void UpDownControl::setRange(int minimum, int maximum) {
    minimum_ = std::min(minimum, maximum);
    maximum_ = std::max(minimum, maximum);
}

void UpDownControl::step(int delta) {
    if (buddy_ == nullptr)
        return;
    const int64_t current =
        std::clamp<int64_t>(parseLeadingNumber(buddy_->text().toStdString()), minimum_, maximum_);
    const int64_t next = std::clamp<int64_t>(current + delta, minimum_, maximum_);
    buddy_->setText(QString::fromStdString(formatNumber(static_cast<int32_t>(next))));
}

bool UpDownControl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == buddy_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            step(key->key() == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
