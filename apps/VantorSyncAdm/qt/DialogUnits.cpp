#include "apps/VantorSyncAdm/qt/DialogUnits.h"

#include <QFontMetrics>
#include <QStringList>

namespace {

// Rounds half away from zero, as the dialog manager's scaling does.
int scale(int units, int base, int divisor) {
    long long product = static_cast<long long>(units) * base;
    long long half = divisor / 2;
    return static_cast<int>(product >= 0 ? (product + half) / divisor
                                         : -((-product + half) / divisor));
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    QFontMetrics metrics(font);
    int alphabet = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX_ = (alphabet / 26 + 1) / 2;
    baseY_ = metrics.height();
    if (baseX_ <= 0)
        baseX_ = 6;
    if (baseY_ <= 0)
        baseY_ = 13;
}

int DialogUnits::toPixelsX(int units) const {
    return scale(units, baseX_, 4);
}

int DialogUnits::toPixelsY(int units) const {
    return scale(units, baseY_, 8);
}

QRect DialogUnits::toPixels(int x, int y, int width, int height) const {
    return QRect(toPixelsX(x), toPixelsY(y), toPixelsX(width), toPixelsY(height));
}

QFont dialogFont(const std::string& face, int pointSize) {
    QFont font;
    font.setFamilies({QString::fromStdString(face), QStringLiteral("Tahoma"),
                      QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    font.setPointSize(pointSize);
    return font;
}
