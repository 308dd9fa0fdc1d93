// CCurve drawing (see curve.h). Every offset of the layout is built from the tick font's
// character height H and maximum character width W with integer divisions, so that the picture
// keeps its proportions for any font resolution.
#include "graph/curve.h"

#include <QFontMetrics>
#include <QPainter>
#include <cstdarg>
#include <cstdio>

namespace zuba {

namespace {

// Pixel height of a font given in tenths of a point at logicalDpi, rounded to the nearest pixel.
int PixelSize(int tenthsOfPoint, int logicalDpi) {
  return static_cast<int>((static_cast<int64_t>(tenthsOfPoint) * logicalDpi + 360) / 720);
}

QFont MakeFont(const char* family, int tenthsOfPoint, int logicalDpi) {
  QFont font(QString::fromLatin1(family));
  font.setPixelSize(PixelSize(tenthsOfPoint, logicalDpi));
  return font;
}

enum class Align { CentreTop, LeftTop };

// Draws text with its anchor at the top of the character cell: horizontally centred on x or
// starting at x. The texts are 8-bit strings (Latin-1).
void DrawAnchored(QPainter& painter, Align align, int x, int y, const std::string& text) {
  const QString s = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  const QFontMetrics fm(painter.font(), painter.device());
  int left = x;
  if (align == Align::CentreTop) left = x - fm.horizontalAdvance(s) / 2;
  painter.drawText(QPoint(left, y + fm.ascent()), s);
}

// One reusable formatting buffer for the texts of a drawing.
class Formatter {
 public:
  const std::string& operator()(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer_, sizeof buffer_, format, args);
    va_end(args);
    if (n >= static_cast<int>(sizeof buffer_)) {
      // Longer than the buffer (a label of an extreme value): format once more at full length.
      text_.assign(static_cast<size_t>(n), '\0');
      va_start(args, format);
      std::vsnprintf(text_.data(), text_.size() + 1, format, args);
      va_end(args);
    } else {
      text_.assign(buffer_, n < 0 ? 0 : static_cast<size_t>(n));
    }
    return text_;
  }

 private:
  char buffer_[128];
  std::string text_;
};

// A rounded rectangle whose outline covers the pixels left .. right-1 and top .. bottom-1, with a
// corner ellipse ellipseWidth wide and ellipseHeight high.
void DrawRoundRect(QPainter& painter, int left, int top, int right, int bottom, int ellipseWidth,
                   int ellipseHeight) {
  painter.drawRoundedRect(QRectF(left, top, right - left - 1, bottom - top - 1), ellipseWidth / 2.0,
                          ellipseHeight / 2.0, Qt::AbsoluteSize);
}

}  // namespace

CCurve::CCurve(QRect frameRect, uint32_t count, int logicalDpi)
    : AxisScaling(FrameRect{frameRect.left(), frameRect.top(), frameRect.left() + frameRect.width(),
                            frameRect.top() + frameRect.height()},
                  count),
      titleFont(MakeFont("Times New Roman", 125, logicalDpi)),
      captionFont(MakeFont("Arial", 100, logicalDpi)),
      tickFont(MakeFont("Arial", 90, logicalDpi)),
      exponentFont(MakeFont("Arial", 90, logicalDpi)),
      noteFont(MakeFont("Arial", 100, logicalDpi)) {}

void CCurve::Draw(QPainter& painter, const std::string& title, const std::string& xCaption,
                  const std::string& yCaption, const std::string& note,
                  std::span<const double> xValues, std::span<const double> yValues) {
  // Tick font, transparent background, centre-top alignment; all restored at the end.
  painter.save();
  painter.setFont(tickFont);
  painter.setBackgroundMode(Qt::TransparentMode);
  const QPen linePen = painter.pen();
  QPen textPen = linePen;
  textPen.setColor(textColor);

  // Metrics of the tick font.
  const QFontMetrics tickMetrics(tickFont, painter.device());
  const int H = tickMetrics.height();
  const int W = tickMetrics.maxWidth();

  // Scaling; nothing is drawn when a series has no usable value.
  ScaleX(*this, xValues);
  if (noData == 1) {
    painter.restore();
    return;
  }
  ScaleY(*this, yValues);
  if (noData == 1) {
    painter.restore();
    return;
  }

  Formatter format;

  // Vertical grid lines with their labels under the plot (the bound is inclusive).
  double label = xFirstLabel;
  for (uint32_t k = 0; k <= xIntervals; ++k) {
    const int x = plotLeft + static_cast<int>(k) * xIntervalPixels;
    painter.setPen(linePen);
    painter.drawLine(x, plotTop, x, plotBottom);
    painter.setPen(textPen);
    DrawAnchored(painter, Align::CentreTop, x, plotBottom + H / 2, format("%4.2f", label));
    label = label + xStep;
  }

  // Horizontal grid lines with their labels left of the plot.
  label = yTopLabel;
  for (uint32_t k = 0; k <= yIntervals; ++k) {
    const int y = plotTop + static_cast<int>(k) * yIntervalPixels;
    painter.setPen(linePen);
    painter.drawLine(plotLeft, y, plotRight, y);
    painter.setPen(textPen);
    DrawAnchored(painter, Align::CentreTop, plotLeft - 2 * W, y - H / 2, format("%4.2f", label));
    label = label - yStep;
  }

  // Axis captions, left-top aligned.
  painter.setPen(textPen);
  painter.setFont(captionFont);
  DrawAnchored(painter, Align::LeftTop, plotRight + W, plotBottom + H / 2 - 3 * H, xCaption);
  DrawAnchored(painter, Align::LeftTop, plotLeft + 2 * W - W / 2, plotTop - 2 * H + H / 2,
               yCaption);

  // The note under the horizontal tick labels.
  painter.setFont(noteFont);
  DrawAnchored(painter, Align::LeftTop, plotLeft - 2 * W, plotBottom + H / 2 + 2 * H, note);

  // The title, centred above the plot.
  const int middle = (plotLeft + plotRight) / 2;
  painter.setFont(titleFont);
  DrawAnchored(painter, Align::CentreTop, middle, plotTop - 4 * H - H / 2, title);

  // The extreme real values of the vertical series, in blue.
  painter.setFont(captionFont);
  QPen bluePen = textPen;
  bluePen.setColor(QColor(0, 0, 255));
  painter.setPen(bluePen);
  DrawAnchored(painter, Align::CentreTop, middle, plotTop - 3 * H,
               format("Value Range = (%.5g, %.5g)", shownValueRange ? shownValueRange->first : yMin,
                      shownValueRange ? shownValueRange->second : yMax));
  painter.setPen(textPen);

  // Horizontal-axis exponent box: "10" and the exponent raised like a superscript.
  painter.setFont(exponentFont);
  painter.setPen(linePen);
  DrawRoundRect(painter, plotRight + W, plotBottom - H, plotRight + 4 * W - W / 4,
                plotBottom + H / 2 - H / 4 + H, W / 2, H / 2);
  painter.setPen(textPen);
  DrawAnchored(painter, Align::CentreTop, plotRight + 2 * W + W / 4, plotBottom, "10");
  DrawAnchored(painter, Align::CentreTop, plotRight + 3 * W, plotBottom - H + H / 4,
               format("%d", xExponent));

  // Vertical-axis exponent box.
  painter.setPen(linePen);
  DrawRoundRect(painter, plotLeft - 2 * W - W / 4, plotTop - 3 * H, plotLeft + W / 2,
                plotTop - H / 4 - H / 2, W / 2, H / 2);
  painter.setPen(textPen);
  DrawAnchored(painter, Align::CentreTop, plotLeft - W, plotTop - 2 * H, "10");
  DrawAnchored(painter, Align::CentreTop, plotLeft - W / 4, plotTop - 2 * H - H / 4 - H / 2,
               format("%d", yExponent));

  // Previous font, background mode, pen.
  painter.restore();
}

}  // namespace zuba
