// Dialog layout in dialog units: one horizontal unit is a quarter of the dialog font's average
// character width, one vertical unit an eighth of its height, so that the tabled layouts of the
// dialogs keep their proportions with any font.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QRect>
#include <QSize>
#include <QString>

namespace zuba {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font) {
    const QFontMetrics fm(font);
    // The average width of the 52 Latin letters, as dialog base units are defined.
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = (fm.horizontalAdvance(letters) / 26 + 1) / 2;
    baseY_ = fm.height();
  }
  int X(int units) const { return (units * baseX_ + 2) / 4; }
  int Y(int units) const { return (units * baseY_ + 4) / 8; }
  // A rectangle given as left, top, width, height in dialog units.
  QRect Rect(int left, int top, int width, int height) const {
    return QRect(X(left), Y(top), X(width), Y(height));
  }
  QSize Size(int width, int height) const { return QSize(X(width), Y(height)); }

 private:
  int baseX_ = 6;
  int baseY_ = 13;
};

}  // namespace zuba
