// The frame of the workbench graphs (map and orbits, orbit radius, field harmonics): a panel with a
// title, a plot rectangle with light grid lines at round values (1, 2 or 5 times a power of ten)
// and plain tick labels, axis captions and a legend. Texts are sized from point sizes at a logical
// resolution, as in CCurve, so that a painter scaled onto paper scales them with the lines.
#pragma once

#include <QFont>
#include <QPen>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <span>
#include <utility>
#include <vector>

class QPainter;

namespace zuba {

// Round tick values covering [low, high]: every multiple of the step inside the interval, the step
// the largest of 1, 2 or 5 times a power of ten that gives at least `target` intervals.
struct Ticks {
  std::vector<double> values;
  double step = 0;
};
Ticks NiceTicks(double low, double high, int target);
// A tick label: as many decimals as the step needs, or an exponent for very large or small values.
QString TickLabel(double value, double step);

// The extreme finite values of the series, the marker of a missing value (2147483647.0) left out;
// {+inf, -inf} when there is none.
std::pair<double, double> FiniteRange(std::span<const double> values);
// [low, high] widened by fraction of its width on each side; a single value gets a width of its
// own.
std::pair<double, double> Padded(double low, double high, double fraction);

struct LegendEntry {
  QPen pen;
  QString text;
};

class PlotFrame {
 public:
  // panel: the part of the drawing the graph takes, in logical pixels.
  PlotFrame(QRectF panel, int logicalDpi);

  // The values the plot spans. The plot rectangle leaves room for the labels of these ranges.
  void SetRanges(double x0, double x1, double y0, double y1);
  // Makes one metre (one unit) as long on both axes: shrinks the plot rectangle to the ranges'
  // proportions, centred in the room it had. Call after SetRanges.
  void EqualAspect();
  // Leaves room to the right of the plot (a colour bar).
  void ReserveRight(double pixels);
  // Leaves no room for a note under the plot.
  void OmitNoteLine();

  QRectF Plot() const { return plot_; }
  QRectF Panel() const { return panel_; }
  double X(double x) const;
  double Y(double y) const;
  QPointF Map(double x, double y) const { return {X(x), Y(y)}; }

  // The title above the plot, the grid, the frame, the tick labels and the two captions.
  void DrawAxes(QPainter& painter, const QString& title, const QString& xCaption,
                const QString& yCaption) const;
  // The entries in a box at the upper right inside the plot.
  void DrawLegend(QPainter& painter, const std::vector<LegendEntry>& entries) const;
  // A line of text under the plot, left-aligned (a note).
  void DrawNote(QPainter& painter, const QString& text) const;
  // y (or x) against x, the line broken at missing or non-finite values, clipped to the plot.
  void DrawSeries(QPainter& painter, std::span<const double> x, std::span<const double> y,
                  const QPen& pen) const;

  QFont textFont;   // 9 pt Arial: ticks, captions, legend, notes
  QFont titleFont;  // 11 pt Arial, bold

 private:
  void Layout();

  QRectF panel_, plot_;
  double x0_ = 0, x1_ = 1, y0_ = 0, y1_ = 1;
  double reservedRight_ = 0;
  bool noteLine_ = true;
  Ticks xTicks_, yTicks_;
};

}  // namespace zuba
