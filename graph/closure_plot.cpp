// The graphs of a run (see closure_plot.h).
#include "graph/closure_plot.h"

#include <QFontMetricsF>
#include <QLineF>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <vector>

#include "graph/harmonics_plot.h"
#include "graph/map_plot.h"
#include "graph/orbit_plot.h"
#include "graph/orbit_samples.h"
#include "graph/plot_file.h"
#include "graph/plot_frame.h"
#include "graph/results_plot.h"
#include "platform/numbers.h"

namespace zuba {
namespace {

// F0 * H / Frf - 1 per energy: the closure tables of a precise run, else from F0.
std::vector<double> Isochronism(const ResultTables& r) {
  if (r.closure.mode == 1 && r.closure.isochronism.size() == r.Rmn.size())
    return r.closure.isochronism.toVector();
  std::vector<double> values;
  const double rf = r.run.Frf * 1e6;  // Hz
  for (int64_t i = 0; i < r.Rmn.size(); ++i)
    values.push_back(i < r.F0.size() ? r.F0[i] * r.run.H / rf - 1 : kNoValue);
  return values;
}

// The pixel of value v on an axis whose first grid line is `first` (in units of 10^exponent) at
// pixel p0, one grid step further every `pixels` pixels in direction `sign`.
double AxisPixel(double v, double first, double step, int32_t exponent, int32_t p0, int32_t pixels,
                 int sign) {
  const double unit = std::pow(10.0, exponent);
  return p0 + sign * (v / unit - first) / step * pixels;
}

// "name (precise closure)": a record in a legend.
std::string Named(const std::string& name, const ResultTables& r, const char* otherwise) {
  return (name.empty() ? std::string(otherwise) : name) +
         (r.closure.mode == 1 ? " (precise closure)" : " (standard closure)");
}

// The legend of a record compared with another: which colour is which file.
std::string ComparedLegend(const ResultTables& r, const ResultTables& compare,
                           const GraphExtras& extras) {
  return "Blue: " + Named(extras.name, r, "first") +
         ", red: " + Named(extras.compareName, compare, "second");
}

// The pen of a series: 1 pixel alone, 2 when two records are compared, so that a curve that runs
// along a grid line stays in sight.
QPen SeriesPen(const QColor& colour, bool compared) {
  return QPen(QBrush(colour), compared ? 2 : 1, Qt::SolidLine);
}

// Draws up to two series of y against x with one scaling: the first in blue, the second in red
// (over the grid, both wider); the point `highlight` of the first marked.
// The points marked (one entry per point of both series) are drawn hollow, and the note says so.
GraphDrawing DrawSeries(QPainter& painter, const std::string& title, const std::string& xCaption,
                        const std::string& yCaption, const std::string& note, std::vector<double> x,
                        std::vector<double> y, size_t firstCount, QSize clientSize, int logicalDpi,
                        int32_t highlight, const std::vector<bool>& marked) {
  CCurve curve(QRect(QPoint(0, 0), clientSize), static_cast<uint32_t>(x.size()), logicalDpi);
  painter.save();
  painter.setPen(QPen(QBrush(QColor(0, 0, 0)), 1, Qt::SolidLine));
  painter.setBrush(Qt::white);
  curve.Draw(painter, title, xCaption, yCaption, NoteWithHollowLegend(note, marked), x, y);
  const bool drawn = curve.noData == 0;
  if (drawn) {
    painter.setBackgroundMode(Qt::TransparentMode);
    const std::span<const int32_t> xp(curve.xPixels), yp(curve.yPixels);
    const bool compared = x.size() > firstCount;
    const std::vector<bool> firstMarked(
        marked.begin(),
        marked.begin() + static_cast<ptrdiff_t>(std::min(firstCount, marked.size())));
    painter.setPen(SeriesPen(QColor(0, 0, 255), compared));
    DrawCurve(painter, xp.first(firstCount), yp.first(firstCount));
    DrawHollowPoints(painter, xp.first(firstCount), yp.first(firstCount), firstMarked);
    if (compared) {
      painter.setPen(SeriesPen(QColor(220, 0, 0), compared));
      DrawCurve(painter, xp.subspan(firstCount), yp.subspan(firstCount));
      const std::vector<bool> secondMarked(
          marked.begin() + static_cast<ptrdiff_t>(std::min(firstCount, marked.size())),
          marked.end());
      DrawHollowPoints(painter, xp.subspan(firstCount), yp.subspan(firstCount), secondMarked);
    }
    DrawHighlight(painter, xp.first(firstCount), yp.first(firstCount), highlight);
  }
  painter.restore();
  return {drawn, std::move(curve.notes)};
}

GraphDrawing DrawIsochronism(QPainter& painter, const ResultTables& r, const GraphExtras& extras,
                             QSize clientSize, int logicalDpi) {
  std::vector<double> x = r.Rmn.toVector(), y = Isochronism(r);
  const size_t first = x.size();
  std::vector<bool> marked = NotAcceptedEnergies(r);
  marked.resize(first, false);
  std::string note = r.closure.mode == 1 ? "Blue: precise closure" : "Blue: default closure";
  if (const ResultTables* compare = extras.compare) {
    const std::vector<double> cx = compare->Rmn.toVector(), cy = Isochronism(*compare);
    x.insert(x.end(), cx.begin(), cx.end());
    y.insert(y.end(), cy.begin(), cy.end());
    std::vector<bool> compared = NotAcceptedEnergies(*compare);
    compared.resize(cx.size(), false);
    marked.insert(marked.end(), compared.begin(), compared.end());
    note = ComparedLegend(r, *compare, extras);
  }
  return DrawSeries(painter, "Isochronism error", "Rmean (m)", "F0*H/Frf - 1", note, x, y, first,
                    clientSize, logicalDpi, extras.selected, marked);
}

GraphDrawing DrawFrequencyCompared(QPainter& painter, const ResultTables& r,
                                   const ResultTables& compare, const GraphExtras& extras,
                                   QSize clientSize, int logicalDpi) {
  std::vector<double> x = r.Rmn.toVector(), y = r.F0.toVector();
  const size_t first = x.size();
  y.resize(first, kNoValue);
  const std::vector<double> cx = compare.Rmn.toVector(), cy = compare.F0.toVector();
  x.insert(x.end(), cx.begin(), cx.end());
  for (size_t i = 0; i < cx.size(); ++i) y.push_back(i < cy.size() ? cy[i] : kNoValue);
  std::vector<bool> marked = NotAcceptedEnergies(r), compared = NotAcceptedEnergies(compare);
  marked.resize(first, false);
  compared.resize(cx.size(), false);
  marked.insert(marked.end(), compared.begin(), compared.end());
  return DrawSeries(painter, kResultsGraphTitle, kResultsGraphXCaption, kResultsGraphYCaption,
                    ComparedLegend(r, compare, extras), x, y, first, clientSize, logicalDpi,
                    extras.selected, marked);
}

// A resonance line a nu_r + b nu_z = c of the tune diagram.
struct Resonance {
  double a, b, c;
  std::string label;
  // Distance of the point (x, y) from the line, in tune units.
  double Distance(double x, double y) const {
    return std::abs(a * x + b * y - c) / std::hypot(a, b);
  }
};

std::vector<Resonance> Resonances(int32_t N) {
  std::vector<Resonance> lines = {
      {1, 0, 1, "nu_r = 1"}, {1, -2, 0, "nu_r = 2 nu_z (Walkinshaw)"}, {0, 1, 0, "nu_z = 0"}};
  if (N > 0) {
    const std::string n = std::to_string(N);
    lines.push_back({2, 0, static_cast<double>(N), "2 nu_r = " + n});
    lines.push_back({3, 0, static_cast<double>(N), "3 nu_r = " + n});
  }
  return lines;
}

// Cuts the segment to the part inside the rectangle (Liang-Barsky); false when none is.
bool ClipToRect(QLineF& segment, const QRectF& rect) {
  const double dx = segment.dx(), dy = segment.dy();
  double t0 = 0, t1 = 1;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {segment.x1() - rect.left(), rect.right() - segment.x1(),
                       segment.y1() - rect.top(), rect.bottom() - segment.y1()};
  for (int k = 0; k < 4; ++k) {
    if (p[k] == 0) {
      if (q[k] < 0) return false;
      continue;
    }
    const double t = q[k] / p[k];
    if (p[k] < 0)
      t0 = std::max(t0, t);
    else
      t1 = std::min(t1, t);
  }
  if (t0 > t1) return false;
  const QPointF a = segment.pointAt(t0), b = segment.pointAt(t1);
  segment = QLineF(a, b);
  return true;
}

bool Drawn(double x, double y) {
  return x != kNoValue && y != kNoValue && std::isfinite(x) && std::isfinite(y);
}

// The tune path (nu_z against nu_r, energy after energy), the resonance lines near it with their
// names, and the energies of some of the points.
GraphDrawing DrawTunes(QPainter& painter, const ResultTables& r, const GraphExtras& extras,
                       QSize clientSize, int logicalDpi) {
  const ClosureTables& c = r.closure;
  if (c.mode != 1 || c.nuR.empty())
    return NotDrawn("The tune diagram needs a run with the precise closure!");
  std::vector<double> x = c.nuR.toVector(), y = c.nuZ.toVector();
  y.resize(x.size(), kNoValue);
  for (size_t i = 0; i < x.size(); ++i)
    if (!Drawn(x[i], y[i])) x[i] = y[i] = kNoValue;  // unstable: no point
  const size_t first = x.size();
  const int32_t N = r.run.N;
  // The compared record's tunes follow, drawn in red (none unless it is a precise run).
  size_t second = 0;
  if (const ResultTables* compare = extras.compare; compare && compare->closure.mode == 1) {
    std::vector<double> cx = compare->closure.nuR.toVector(), cy = compare->closure.nuZ.toVector();
    cy.resize(cx.size(), kNoValue);
    for (size_t i = 0; i < cx.size(); ++i) {
      const bool drawn = Drawn(cx[i], cy[i]);
      x.push_back(drawn ? cx[i] : kNoValue);
      y.push_back(drawn ? cy[i] : kNoValue);
    }
    second = cx.size();
  }
  const size_t pointCount = first + second;

  // Two anchors (not drawn) set the axes to the extent of the points and the lines near them.
  const TuneExtent extent = TuneDiagramExtent(x, y, N);
  x.push_back(extent.xLow);
  y.push_back(extent.yLow);
  x.push_back(extent.xHigh);
  y.push_back(extent.yHigh);

  CCurve curve(QRect(QPoint(0, 0), clientSize), static_cast<uint32_t>(x.size()), logicalDpi);
  // The value range of the points drawn, not of the anchors.
  const auto [low, high] = FiniteRange(std::span<const double>(y).first(pointCount));
  if (low <= high) curve.shownValueRange = std::make_pair(low, high);
  painter.save();
  painter.setPen(QPen(QBrush(QColor(0, 0, 0)), 1, Qt::SolidLine));
  painter.setBrush(Qt::white);
  std::string names;
  for (const Resonance& line : Resonances(N)) names += (names.empty() ? "" : ", ") + line.label;
  std::string note = "Resonances: " + names;
  // Compared, the legend of the two records (the lines are named on the plot).
  if (extras.compare)
    note = ComparedLegend(r, *extras.compare, extras) +
           (second == 0 ? ", which has no tunes without the precise closure" : "");
  curve.Draw(painter, "Tune diagram", "nu_r", "nu_z", note, x, y);
  const bool drawn = curve.noData == 0;
  if (drawn) {
    painter.setBackgroundMode(Qt::TransparentMode);
    const QRectF plot(QPointF(curve.plotLeft, curve.plotTop),
                      QPointF(curve.plotRight, curve.plotBottom));
    auto px = [&](double v) {
      return AxisPixel(v, curve.xFirstLabel, curve.xStep, curve.xExponent, curve.plotLeft,
                       curve.xIntervalPixels, 1);
    };
    auto py = [&](double v) {
      return AxisPixel(v, curve.yTopLabel, curve.yStep, curve.yExponent, curve.plotTop,
                       curve.yIntervalPixels, -1);
    };
    // The axes' values at the plot's edges.
    const double xUnit = std::pow(10.0, curve.xExponent), yUnit = std::pow(10.0, curve.yExponent);
    const double x0 = curve.xFirstLabel * xUnit;
    const double x1 = (curve.xFirstLabel + curve.xIntervals * curve.xStep) * xUnit;
    const double y1 = curve.yTopLabel * yUnit;
    const double y0 = (curve.yTopLabel - curve.yIntervals * curve.yStep) * yUnit;
    const QFontMetricsF fm(curve.tickFont, painter.device());
    painter.setFont(curve.tickFont);
    for (const Resonance& line : Resonances(N)) {
      // The line across the plot's value range, then clipped to the plot.
      QPointF a, b;
      if (line.b == 0) {
        a = {px(line.c / line.a), py(y0)};
        b = {px(line.c / line.a), py(y1)};
      } else {
        a = {px(x0), py((line.c - line.a * x0) / line.b)};
        b = {px(x1), py((line.c - line.a * x1) / line.b)};
      }
      QLineF segment(a, b);
      if (!ClipToRect(segment, plot)) continue;
      painter.setClipRect(plot);
      painter.setPen(QPen(QBrush(QColor(0, 150, 0)), 1, Qt::DashLine));
      painter.drawLine(segment);
      // The name beside the end of the line that lies higher in the plot.
      const QPointF end = segment.p1().y() < segment.p2().y() ? segment.p1() : segment.p2();
      const QString text = QString::fromStdString(line.label);
      const double w = fm.horizontalAdvance(text);
      double tx = end.x() + 3, ty = end.y() + fm.ascent() + 2;
      if (tx + w > plot.right() - 2) tx = end.x() - w - 3;
      if (line.a == 0) ty = end.y() - 3;  // a horizontal line: the name above it, at the right
      painter.setPen(QColor(0, 120, 0));
      painter.drawText(QPointF(tx, ty), text);
      painter.setClipping(false);
    }
    if (second > 0) {
      // The compared path first, so that the record's own lies over it.
      const auto cxp = std::span<const int32_t>(curve.xPixels).subspan(first, second);
      const auto cyp = std::span<const int32_t>(curve.yPixels).subspan(first, second);
      painter.setPen(SeriesPen(QColor(220, 0, 0), true));
      DrawCurve(painter, cxp, cyp);
      painter.setBrush(QColor(220, 0, 0));
      for (size_t i = 0; i < second; ++i)
        if (cxp[i] != kNoValueInt && cyp[i] != kNoValueInt)
          painter.drawEllipse(QPoint(cxp[i], cyp[i]), 2, 2);
    }
    painter.setPen(SeriesPen(QColor(0, 0, 255), second > 0));
    const std::span<const int32_t> xp = std::span<const int32_t>(curve.xPixels).first(first);
    const std::span<const int32_t> yp = std::span<const int32_t>(curve.yPixels).first(first);
    DrawCurve(painter, xp, yp);
    painter.setBrush(QColor(0, 0, 255));
    std::vector<size_t> points;
    for (size_t i = 0; i < first; ++i)
      if (xp[i] != kNoValueInt && yp[i] != kNoValueInt) {
        painter.drawEllipse(QPoint(xp[i], yp[i]), 2, 2);
        points.push_back(i);
      }
    // The energy of every few points, the first and the last among them, each label beside its
    // point where it overlaps no other label.
    painter.setPen(QColor(0, 0, 140));
    const size_t every = std::max<size_t>(1, (points.size() + 7) / 8);
    std::vector<QRectF> placed;
    for (size_t k = 0; k < points.size(); ++k) {
      if (k % every != 0 && k + 1 != points.size()) continue;
      const size_t i = points[k];
      const QString text = QString::fromStdString(EnergyLabel(r, static_cast<int64_t>(i)));
      const double w = fm.horizontalAdvance(text), h = fm.height();
      for (const QPointF offset :
           {QPointF(6, -h - 2), QPointF(6, 2), QPointF(-w - 6, -h - 2), QPointF(-w - 6, 2)}) {
        const QRectF box(QPointF(xp[i], yp[i]) + offset, QSizeF(w, h));
        const QRectF clear = box.adjusted(-2, -2, 2, 2);
        const bool free =
            plot.contains(box) &&
            std::none_of(placed.begin(), placed.end(),
                         [&](const QRectF& other) { return other.intersects(box); }) &&
            std::none_of(points.begin(), points.end(),
                         [&](size_t j) { return clear.contains(QPointF(xp[j], yp[j])); });
        if (!free) continue;
        painter.drawText(box, Qt::AlignLeft | Qt::AlignTop, text);
        placed.push_back(box);
        break;
      }
    }
    DrawHighlight(painter, xp, yp, extras.selected);
  }
  painter.restore();
  return {drawn, std::move(curve.notes)};
}

}  // namespace

TuneExtent TuneDiagramExtent(std::span<const double> xs, std::span<const double> ys, int32_t N) {
  double xLow = INFINITY, xHigh = -INFINITY, yLow = INFINITY, yHigh = -INFINITY;
  auto cover = [&](double x, double y) {
    xLow = std::min(xLow, x);
    xHigh = std::max(xHigh, x);
    yLow = std::min(yLow, y);
    yHigh = std::max(yHigh, y);
  };
  const size_t n = std::min(xs.size(), ys.size());
  for (size_t i = 0; i < n; ++i)
    if (Drawn(xs[i], ys[i])) cover(xs[i], ys[i]);
  if (xLow > xHigh) return TuneExtent{0, 1, 0, 1};
  // A line near a point: its foot from the nearest point joins the extent.
  for (const Resonance& line : Resonances(N)) {
    double best = INFINITY, footX = 0, footY = 0;
    for (size_t i = 0; i < n; ++i) {
      if (!Drawn(xs[i], ys[i])) continue;
      const double d = line.Distance(xs[i], ys[i]);
      if (d < best) {
        best = d;
        const double t =
            (line.a * xs[i] + line.b * ys[i] - line.c) / (line.a * line.a + line.b * line.b);
        footX = xs[i] - t * line.a;
        footY = ys[i] - t * line.b;
      }
    }
    if (best <= kResonanceReach) cover(footX, footY);
  }
  const double mx = std::max(0.08 * (xHigh - xLow), 0.02);
  const double my = std::max(0.08 * (yHigh - yLow), 0.02);
  return TuneExtent{xLow - mx, xHigh + mx, yLow - my, yHigh + my};
}

std::string_view GraphKindName(GraphKind kind) {
  switch (kind) {
    case GraphKind::Isochronism:
      return "isochronism";
    case GraphKind::Tunes:
      return "tunes";
    case GraphKind::Map:
      return "map";
    case GraphKind::Orbits:
      return "orbits";
    case GraphKind::Harmonics:
      return "harmonics";
    case GraphKind::Frequency:
      break;
  }
  return "frequency";
}

std::optional<GraphKind> ParseGraphKind(std::string_view name) {
  for (GraphKind kind : kGraphKinds)
    if (name == GraphKindName(kind)) return kind;
  return std::nullopt;
}

std::string GraphTitle(GraphKind kind) {
  switch (kind) {
    case GraphKind::Isochronism:
      return "Isochronism error";
    case GraphKind::Tunes:
      return "Tune diagram";
    case GraphKind::Map:
      return kMapGraphTitle;
    case GraphKind::Orbits:
      return kOrbitGraphTitle;
    case GraphKind::Harmonics:
      return kHarmonicsGraphTitle;
    case GraphKind::Frequency:
      break;
  }
  return kResultsGraphTitle;
}

GraphDrawing DrawGraph(QPainter& painter, const ResultTables& results, GraphKind kind,
                       QSize clientSize, const GraphExtras& extras, int logicalDpi) {
  switch (kind) {
    case GraphKind::Isochronism:
      return DrawIsochronism(painter, results, extras, clientSize, logicalDpi);
    case GraphKind::Tunes:
      return DrawTunes(painter, results, extras, clientSize, logicalDpi);
    case GraphKind::Map:
      return DrawMapGraph(painter, results, extras, clientSize, logicalDpi);
    case GraphKind::Orbits:
      return DrawOrbitGraph(painter, results, extras, clientSize, logicalDpi);
    case GraphKind::Harmonics:
      return DrawHarmonicsGraph(painter, results, extras, clientSize, logicalDpi);
    case GraphKind::Frequency:
      break;
  }
  if (extras.compare)
    return DrawFrequencyCompared(painter, results, *extras.compare, extras, clientSize, logicalDpi);
  return DrawResultsGraph(painter, results, clientSize, logicalDpi, extras.selected);
}

GraphDrawing DrawGraph(QPainter& painter, const ResultTables& results, GraphKind kind,
                       QSize clientSize, const ResultTables* compare, int logicalDpi) {
  GraphExtras extras;
  extras.compare = compare;
  return DrawGraph(painter, results, kind, clientSize, extras, logicalDpi);
}

PlotWriting WriteGraphFile(const ResultTables& results, GraphKind kind, const GraphExtras& extras,
                           const std::string& path, int width, int height) {
  if (kind == GraphKind::Frequency && !extras.compare && extras.selected < 0)
    return WritePlotFile(results, path, width, height);
  if (kind == GraphKind::Frequency && results.F0.size() < results.Rmn.size())
    return {ErrorFailure("the F0 table is shorter than the Rmn table (" +
                             std::to_string(results.F0.size()) + " < " +
                             std::to_string(results.Rmn.size()) + ")",
                         path),
            {}};
  return WriteDrawingFile(
      [&](QPainter& painter, QSize size) {
        return DrawGraph(painter, results, kind, size, extras);
      },
      GraphTitle(kind), path, width, height);
}

PlotWriting WriteGraphFile(const ResultTables& results, GraphKind kind, const std::string& path,
                           int width, int height, const ResultTables* compare) {
  GraphExtras extras;
  extras.compare = compare;
  return WriteGraphFile(results, kind, extras, path, width, height);
}

}  // namespace zuba
