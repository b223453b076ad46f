#pragma once

#include <QWidget>

class QLineEdit;

// A pair of arrow buttons that step the number in a buddy edit field within a range. The
// arrow keys in the buddy step it too. The number is written as plain decimal digits.
class UpDownControl : public QWidget {
  public:
    explicit UpDownControl(QWidget* parent);

    // Sits at the buddy's right edge, taking its width from the buddy.
    void attach(QLineEdit* buddy);
    void setRange(int minimum, int maximum);
    void step(int delta);

    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QLineEdit* buddy_ = nullptr;
    int minimum_ = 0;
    int maximum_ = 100;
};
