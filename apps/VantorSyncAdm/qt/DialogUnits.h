#pragma once

#include <QFont>
#include <QRect>
#include <string>

// Dialog units measured in the dialog's font, as the dialog manager measures them: a
// horizontal unit is a quarter of the font's average character width, a vertical unit an
// eighth of its height.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);

    int toPixelsX(int units) const;
    int toPixelsY(int units) const;
    QRect toPixels(int x, int y, int width, int height) const;

    int baseX() const { return baseX_; }
    int baseY() const { return baseY_; }

  private:
    int baseX_;
    int baseY_;
};

// The template's font, falling back to a sans-serif face where it is not installed.
QFont dialogFont(const std::string& face, int pointSize);
