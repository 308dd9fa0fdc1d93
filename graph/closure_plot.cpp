// The frequency, isochronism and tune graphs (see closure_plot.h).
#include "graph/closure_plot.h"

#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <vector>

#include "graph/plot_file.h"
#include "graph/results_plot.h"
#include "platform/message.h"

namespace zuba {
namespace {

constexpr double kMissing = 2147483647.0;  // NO_VALUE in a data series

// F0 * H / Frf - 1 per energy: the closure tables of a precise run, else from F0.
std::vector<double> Isochronism(const ResultTables& r) {
  if (r.closure.mode == 1 && r.closure.isochronism.size() == r.Rmn.size())
    return r.closure.isochronism.toVector();
  std::vector<double> values;
  const double rf = r.run.Frf * 1e6;  // Hz
  for (int64_t i = 0; i < r.Rmn.size(); ++i)
    values.push_back(i < r.F0.size() ? r.F0[i] * r.run.H / rf - 1 : kMissing);
  return values;
}

// The pixel of value v on an axis whose first grid line is `first` (in units of 10^exponent) at
// pixel p0, one grid step further every `pixels` pixels in direction `sign`.
double AxisPixel(double v, double first, double step, int32_t exponent, int32_t p0, int32_t pixels,
                 int sign) {
  const double unit = std::pow(10.0, exponent);
  return p0 + sign * (v / unit - first) / step * pixels;
}

// Draws up to two series of y against x with one scaling: the first in blue, the second in red.
bool DrawSeries(QPainter& painter, const std::string& title, const std::string& xCaption,
                const std::string& yCaption, const std::string& note, std::vector<double> x,
                std::vector<double> y, size_t firstCount, QSize clientSize, int logicalDpi) {
  CCurve curve(QRect(QPoint(0, 0), clientSize), static_cast<uint32_t>(x.size()), logicalDpi);
  painter.save();
  painter.setPen(QPen(QBrush(QColor(0, 0, 0)), 1, Qt::SolidLine));
  painter.setBrush(Qt::white);
  curve.Draw(painter, title, xCaption, yCaption, note, x, y);
  const bool drawn = curve.noData == 0;
  if (drawn) {
    painter.setBackgroundMode(Qt::TransparentMode);
    const std::span<const int32_t> xp(curve.xPixels), yp(curve.yPixels);
    painter.setPen(QPen(QBrush(QColor(0, 0, 255)), 1, Qt::SolidLine));
    DrawCurve(painter, xp.first(firstCount), yp.first(firstCount));
    if (x.size() > firstCount) {
      painter.setPen(QPen(QBrush(QColor(220, 0, 0)), 1, Qt::SolidLine));
      DrawCurve(painter, xp.subspan(firstCount), yp.subspan(firstCount));
    }
  }
  painter.restore();
  return drawn;
}

bool DrawIsochronism(QPainter& painter, const ResultTables& r, const ResultTables* compare,
                     QSize clientSize, int logicalDpi) {
  std::vector<double> x = r.Rmn.toVector(), y = Isochronism(r);
  const size_t first = x.size();
  std::string note = r.closure.mode == 1 ? "Blue: precise closure" : "Blue: default closure";
  if (compare) {
    const std::vector<double> cx = compare->Rmn.toVector(), cy = Isochronism(*compare);
    x.insert(x.end(), cx.begin(), cx.end());
    y.insert(y.end(), cy.begin(), cy.end());
    note += compare->closure.mode == 1 ? ", red: precise closure" : ", red: default closure";
  }
  return DrawSeries(painter, "Isochronism error", "Rmean (m)", "F0*H/Frf - 1", note, x, y, first,
                    clientSize, logicalDpi);
}

bool DrawFrequencyCompared(QPainter& painter, const ResultTables& r, const ResultTables& compare,
                           QSize clientSize, int logicalDpi) {
  std::vector<double> x = r.Rmn.toVector(), y = r.F0.toVector();
  const size_t first = x.size();
  y.resize(first, kMissing);
  const std::vector<double> cx = compare.Rmn.toVector(), cy = compare.F0.toVector();
  x.insert(x.end(), cx.begin(), cx.end());
  for (size_t i = 0; i < cx.size(); ++i) y.push_back(i < cy.size() ? cy[i] : kMissing);
  const std::string note =
      std::string(r.closure.mode == 1 ? "Blue: precise" : "Blue: default") +
      (compare.closure.mode == 1 ? ", red: precise closure" : ", red: default closure");
  return DrawSeries(painter, kResultsGraphTitle, kResultsGraphXCaption, kResultsGraphYCaption, note,
                    x, y, first, clientSize, logicalDpi);
}

// The tune path (nu_z against nu_r, energy after energy) and the resonance lines within the plot.
bool DrawTunes(QPainter& painter, const ResultTables& r, QSize clientSize, int logicalDpi) {
  const ClosureTables& c = r.closure;
  if (c.mode != 1 || c.nuR.empty()) {
    ShowMessage("The tune diagram needs a run with the precise closure!", "Message",
                Icon::Information, Owner::None);
    return false;
  }
  std::vector<double> x = c.nuR.toVector(), y = c.nuZ.toVector();
  y.resize(x.size(), kMissing);
  for (size_t i = 0; i < x.size(); ++i)
    if (x[i] == kMissing || y[i] == kMissing) x[i] = y[i] = kMissing;  // unstable: no point
  const size_t first = x.size();
  // Anchors (not drawn) that widen the axes to nu_r = 1, nu_z = 0 and to the sector resonances
  // near the path.
  double xHigh = 1, yHigh = 0;
  for (size_t i = 0; i < first; ++i)
    if (x[i] != kMissing) {
      xHigh = std::max(xHigh, x[i]);
      yHigh = std::max(yHigh, y[i]);
    }
  const int32_t N = r.run.N;
  std::vector<double> resonances = {1.0};  // nu_r of the radial resonances
  if (N > 0) {
    for (double nu : {N / 3.0, N / 2.0})
      if (nu <= xHigh + 0.25) resonances.push_back(nu);
  }
  for (double nu : resonances) xHigh = std::max(xHigh, nu);
  x.push_back(1.0);
  y.push_back(0.0);
  x.push_back(xHigh);
  y.push_back(std::max(yHigh, 0.05));

  CCurve curve(QRect(QPoint(0, 0), clientSize), static_cast<uint32_t>(x.size()), logicalDpi);
  painter.save();
  painter.setPen(QPen(QBrush(QColor(0, 0, 0)), 1, Qt::SolidLine));
  painter.setBrush(Qt::white);
  curve.Draw(
      painter, "Tune diagram", "nu_r", "nu_z",
      "Resonances: nu_r = 1, nu_r = 2 nu_z, 2 nu_r = N, 3 nu_r = N (N = " + std::to_string(N) + ")",
      x, y);
  const bool drawn = curve.noData == 0;
  if (drawn) {
    painter.setBackgroundMode(Qt::TransparentMode);
    const QRect plot(QPoint(curve.plotLeft, curve.plotTop),
                     QPoint(curve.plotRight, curve.plotBottom));
    painter.setClipRect(plot);
    auto px = [&](double v) {
      return AxisPixel(v, curve.xFirstLabel, curve.xStep, curve.xExponent, curve.plotLeft,
                       curve.xIntervalPixels, 1);
    };
    auto py = [&](double v) {
      return AxisPixel(v, curve.yTopLabel, curve.yStep, curve.yExponent, curve.plotTop,
                       curve.yIntervalPixels, -1);
    };
    painter.setPen(QPen(QBrush(QColor(0, 150, 0)), 1, Qt::DashLine));
    for (double nu : resonances)
      painter.drawLine(QPointF(px(nu), curve.plotTop), QPointF(px(nu), curve.plotBottom));
    // nu_r = 2 nu_z: the line nu_z = nu_r / 2 across the plot.
    const double xa = 0, xb = 10 * xHigh;
    painter.drawLine(QPointF(px(xa), py(xa / 2)), QPointF(px(xb), py(xb / 2)));
    painter.setPen(QPen(QBrush(QColor(0, 0, 255)), 1, Qt::SolidLine));
    DrawCurve(painter, std::span<const int32_t>(curve.xPixels).first(first),
              std::span<const int32_t>(curve.yPixels).first(first));
    painter.setBrush(QColor(0, 0, 255));
    for (size_t i = 0; i < first; ++i)
      if (curve.xPixels[i] != NO_VALUE && curve.yPixels[i] != NO_VALUE)
        painter.drawEllipse(QPoint(curve.xPixels[i], curve.yPixels[i]), 2, 2);
  }
  painter.restore();
  return drawn;
}

}  // namespace

std::string_view GraphKindName(GraphKind kind) {
  switch (kind) {
    case GraphKind::Isochronism:
      return "isochronism";
    case GraphKind::Tunes:
      return "tunes";
    case GraphKind::Frequency:
      break;
  }
  return "frequency";
}

std::optional<GraphKind> ParseGraphKind(std::string_view name) {
  for (GraphKind kind : {GraphKind::Frequency, GraphKind::Isochronism, GraphKind::Tunes})
    if (name == GraphKindName(kind)) return kind;
  return std::nullopt;
}

std::string GraphTitle(GraphKind kind) {
  switch (kind) {
    case GraphKind::Isochronism:
      return "Isochronism error";
    case GraphKind::Tunes:
      return "Tune diagram";
    case GraphKind::Frequency:
      break;
  }
  return kResultsGraphTitle;
}

bool DrawGraph(QPainter& painter, const ResultTables& results, GraphKind kind, QSize clientSize,
               const ResultTables* compare, int logicalDpi) {
  switch (kind) {
    case GraphKind::Isochronism:
      return DrawIsochronism(painter, results, compare, clientSize, logicalDpi);
    case GraphKind::Tunes:
      return DrawTunes(painter, results, clientSize, logicalDpi);
    case GraphKind::Frequency:
      break;
  }
  if (compare) return DrawFrequencyCompared(painter, results, *compare, clientSize, logicalDpi);
  return DrawResultsGraph(painter, results, clientSize, logicalDpi);
}

bool WriteGraphFile(const ResultTables& results, GraphKind kind, const std::string& path, int width,
                    int height, std::string& error, const ResultTables* compare) {
  if (kind == GraphKind::Frequency && !compare)
    return WritePlotFile(results, path, width, height, error);
  return WriteDrawingFile(
      [&](QPainter& painter, QSize size) {
        return DrawGraph(painter, results, kind, size, compare);
      },
      GraphTitle(kind), path, width, height, error);
}

}  // namespace zuba
