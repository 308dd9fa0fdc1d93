// The frame of the workbench graphs (see plot_frame.h).
#include "graph/plot_frame.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/numbers.h"

namespace zuba {
namespace {

QFont FontOf(const char* family, double points, int logicalDpi, bool bold = false) {
  QFont font(QString::fromLatin1(family));
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(points * logicalDpi / 72.0))));
  font.setBold(bold);
  return font;
}

bool Usable(double v) {
  return std::isfinite(v) && v != kNoValue;
}

}  // namespace

Ticks NiceTicks(double low, double high, int target) {
  Ticks ticks;
  if (!(high > low) || !std::isfinite(low) || !std::isfinite(high)) return ticks;
  const double raw = (high - low) / std::max(1, target);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  // The largest round step that still gives `target` intervals.
  double step = power;
  for (double m : {5.0, 2.0, 1.0}) {
    step = m * power;
    if (step <= raw * 1.001) break;
  }
  ticks.step = step;
  const double first = std::ceil(low / step - 1e-9);
  for (double k = first; k * step <= high + step * 1e-9 && ticks.values.size() < 100; k += 1) {
    const double v = k * step;
    ticks.values.push_back(std::abs(v) < step * 1e-9 ? 0.0 : v);
  }
  return ticks;
}

QString TickLabel(double value, double step) {
  const double magnitude = std::max(std::abs(value), step);
  if (magnitude >= 1e6 || step < 1e-5) return QString::number(value, 'g', 4);
  const int decimals = std::clamp(static_cast<int>(-std::floor(std::log10(step) + 1e-9)), 0, 6);
  return QString::number(value, 'f', decimals);
}

std::pair<double, double> FiniteRange(std::span<const double> values) {
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (double v : values) {
    if (!Usable(v)) continue;
    low = std::min(low, v);
    high = std::max(high, v);
  }
  return {low, high};
}

std::pair<double, double> Padded(double low, double high, double fraction) {
  if (!(high >= low)) return {0.0, 1.0};
  double width = high - low;
  if (width <= std::abs(high) * 1e-12) width = std::max(std::abs(high) * 0.02, 1e-12);
  return {low - fraction * width, high + fraction * width};
}

PlotFrame::PlotFrame(QRectF panel, int logicalDpi)
    : textFont(FontOf("Arial", 9, logicalDpi)),
      titleFont(FontOf("Arial", 11, logicalDpi, true)),
      panel_(panel) {
  Layout();
}

void PlotFrame::SetRanges(double x0, double x1, double y0, double y1) {
  x0_ = x0;
  x1_ = x1 > x0 ? x1 : x0 + 1;
  y0_ = y0;
  y1_ = y1 > y0 ? y1 : y0 + 1;
  Layout();
}

void PlotFrame::ReserveRight(double pixels) {
  reservedRight_ = pixels;
  Layout();
}

void PlotFrame::OmitNoteLine() {
  noteLine_ = false;
  Layout();
}

void PlotFrame::Layout() {
  xTicks_ = NiceTicks(x0_, x1_, std::max(3, static_cast<int>(panel_.width() / 130)));
  yTicks_ = NiceTicks(y0_, y1_, std::max(3, static_cast<int>(panel_.height() / 70)));
  const QFontMetricsF text(textFont), title(titleFont);
  const double H = text.height();
  double labelWidth = 0;
  for (double v : yTicks_.values)
    labelWidth = std::max(labelWidth, text.horizontalAdvance(TickLabel(v, yTicks_.step)));
  const double left = panel_.left() + 1.4 * H + labelWidth + 0.6 * H;
  const double top = panel_.top() + 1.8 * title.height();
  const double right = panel_.right() - 1.0 * H - reservedRight_;
  const double bottom = panel_.bottom() - (noteLine_ ? 4.0 : 2.8) * H;  // labels, caption, note
  plot_ =
      QRectF(QPointF(left, top), QPointF(std::max(left + 10, right), std::max(top + 10, bottom)));
}

void PlotFrame::EqualAspect() {
  const double scale = std::min(plot_.width() / (x1_ - x0_), plot_.height() / (y1_ - y0_));
  const double w = scale * (x1_ - x0_), h = scale * (y1_ - y0_);
  plot_ = QRectF(plot_.center().x() - w / 2, plot_.center().y() - h / 2, w, h);
  // The same step on both axes: the horizontal one's.
  const double step = xTicks_.step;
  if (step > 0) {
    yTicks_.step = step;
    yTicks_.values.clear();
    for (double k = std::ceil(y0_ / step - 1e-9); k * step <= y1_ + step * 1e-9; k += 1)
      yTicks_.values.push_back(k == 0 ? 0.0 : k * step);
  }
}

double PlotFrame::X(double x) const {
  return plot_.left() + (x - x0_) / (x1_ - x0_) * plot_.width();
}

double PlotFrame::Y(double y) const {
  return plot_.bottom() - (y - y0_) / (y1_ - y0_) * plot_.height();
}

void PlotFrame::DrawAxes(QPainter& painter, const QString& title, const QString& xCaption,
                         const QString& yCaption) const {
  painter.save();
  const QFontMetricsF fm(textFont);
  const double H = fm.height();
  // Grid.
  painter.setPen(QPen(QColor(215, 215, 215), 0));
  for (double v : xTicks_.values)
    painter.drawLine(QPointF(X(v), plot_.top()), QPointF(X(v), plot_.bottom()));
  for (double v : yTicks_.values)
    painter.drawLine(QPointF(plot_.left(), Y(v)), QPointF(plot_.right(), Y(v)));
  // Frame and tick marks.
  painter.setPen(QPen(Qt::black, 0));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(plot_);
  painter.setFont(textFont);
  for (double v : xTicks_.values) {
    const double x = X(v);
    painter.drawLine(QPointF(x, plot_.bottom()), QPointF(x, plot_.bottom() + 0.3 * H));
    painter.drawText(QRectF(x - 4 * H, plot_.bottom() + 0.35 * H, 8 * H, H),
                     Qt::AlignHCenter | Qt::AlignTop, TickLabel(v, xTicks_.step));
  }
  for (double v : yTicks_.values) {
    const double y = Y(v);
    painter.drawLine(QPointF(plot_.left() - 0.3 * H, y), QPointF(plot_.left(), y));
    painter.drawText(QRectF(panel_.left(), y - H / 2, plot_.left() - panel_.left() - 0.4 * H, H),
                     Qt::AlignRight | Qt::AlignVCenter, TickLabel(v, yTicks_.step));
  }
  // Captions: the horizontal one centred under the tick labels, the vertical one turned.
  painter.drawText(QRectF(plot_.left(), plot_.bottom() + 1.45 * H, plot_.width(), H),
                   Qt::AlignHCenter | Qt::AlignTop, xCaption);
  painter.save();
  painter.translate(panel_.left() + 0.1 * H, plot_.center().y());
  painter.rotate(-90);
  painter.drawText(QRectF(-plot_.height() / 2, 0, plot_.height(), H),
                   Qt::AlignHCenter | Qt::AlignTop, yCaption);
  painter.restore();
  // Title.
  painter.setFont(titleFont);
  painter.drawText(QRectF(panel_.left(), panel_.top(), panel_.width(), plot_.top() - panel_.top()),
                   Qt::AlignHCenter | Qt::AlignVCenter, title);
  painter.restore();
}

void PlotFrame::DrawLegend(QPainter& painter, const std::vector<LegendEntry>& entries) const {
  if (entries.empty()) return;
  painter.save();
  painter.setFont(textFont);
  const QFontMetricsF fm(textFont);
  const double H = fm.height();
  double width = 0;
  for (const LegendEntry& e : entries) width = std::max(width, fm.horizontalAdvance(e.text));
  const double boxWidth = width + 3.2 * H;
  const double boxHeight = H * entries.size() + 0.6 * H;
  const QRectF box(plot_.right() - boxWidth - 0.5 * H, plot_.top() + 0.5 * H, boxWidth, boxHeight);
  painter.setPen(QPen(QColor(160, 160, 160), 0));
  painter.setBrush(QColor(255, 255, 255, 225));
  painter.drawRect(box);
  double y = box.top() + 0.3 * H + H / 2;
  painter.setRenderHint(QPainter::Antialiasing, true);
  for (const LegendEntry& e : entries) {
    painter.setPen(e.pen);
    painter.drawLine(QPointF(box.left() + 0.4 * H, y), QPointF(box.left() + 2.2 * H, y));
    painter.setPen(Qt::black);
    painter.drawText(QRectF(box.left() + 2.6 * H, y - H / 2, width + H, H),
                     Qt::AlignLeft | Qt::AlignVCenter, e.text);
    y += H;
  }
  painter.restore();
}

void PlotFrame::DrawNote(QPainter& painter, const QString& text) const {
  painter.save();
  painter.setFont(textFont);
  painter.setPen(Qt::black);
  const double H = QFontMetricsF(textFont).height();
  painter.drawText(
      QRectF(panel_.left() + 0.5 * H, panel_.bottom() - 1.2 * H, panel_.width() - H, H),
      Qt::AlignLeft | Qt::AlignVCenter, text);
  painter.restore();
}

void PlotFrame::DrawSeries(QPainter& painter, std::span<const double> x, std::span<const double> y,
                           const QPen& pen) const {
  painter.save();
  painter.setClipRect(plot_.adjusted(-1, -1, 1, 1));
  painter.setPen(pen);
  painter.setRenderHint(QPainter::Antialiasing, true);
  QPolygonF run;
  auto flush = [&] {
    if (run.size() >= 2) painter.drawPolyline(run);
    run.clear();
  };
  const size_t n = std::min(x.size(), y.size());
  for (size_t i = 0; i < n; ++i) {
    if (!Usable(x[i]) || !Usable(y[i])) {
      flush();
      continue;
    }
    run.append(Map(x[i], y[i]));
  }
  flush();
  painter.restore();
}

}  // namespace zuba
