#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "apps/VantorSyncAdm/qt/QtDialog.h"

// Plays the user in modal dialogs and message boxes, in the order the steps were queued:
// each step waits (polling every 10 ms) until its kind of window is the active modal one.
class ModalDriver {
  public:
    ~ModalDriver() {
        for (auto& step : steps_)
            step->timer.stop();
    }

    void onDialog(int templateId, std::function<void(QtDialog&)> action) {
        add(
            [templateId](QWidget* modal) {
                auto* dialog = dynamic_cast<QtDialog*>(modal);
                return dialog != nullptr && dialog->dialogTemplate().id == templateId;
            },
            [action](QWidget* modal) { action(*dynamic_cast<QtDialog*>(modal)); });
    }

    void onMessageBox(std::function<void(QMessageBox&)> action) {
        add([](QWidget* modal) { return qobject_cast<QMessageBox*>(modal) != nullptr; },
            [action](QWidget* modal) { action(*qobject_cast<QMessageBox*>(modal)); });
    }

    // Presses a message box's button and records its text.
    void answerMessageBox(QMessageBox::StandardButton button, QString* text = nullptr) {
        onMessageBox([button, text](QMessageBox& box) {
            if (text != nullptr)
                *text = box.text();
            box.button(button)->click();
        });
    }

    bool allDone() const { return next_ == steps_.size(); }

  private:
    struct Step {
        std::function<bool(QWidget*)> matches;
        std::function<void(QWidget*)> act;
        QTimer timer;
    };

    void add(std::function<bool(QWidget*)> matches, std::function<void(QWidget*)> act) {
        steps_.push_back(std::make_unique<Step>());
        Step* step = steps_.back().get();
        const size_t index = steps_.size() - 1;
        step->matches = std::move(matches);
        step->act = std::move(act);
        step->timer.setInterval(10);
        QObject::connect(&step->timer, &QTimer::timeout, [this, step, index] {
            if (index != next_)
                return;
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || !modal->isVisible() || !step->matches(modal))
                return;
            step->timer.stop();
            ++next_;
            step->act(modal);
        });
        step->timer.start();
    }

    std::vector<std::unique_ptr<Step>> steps_;
    size_t next_ = 0;
};
