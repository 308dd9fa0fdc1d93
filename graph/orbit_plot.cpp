// The orbit radius view (see orbit_plot.h).
#include "graph/orbit_plot.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "graph/orbit_samples.h"
#include "graph/plot_frame.h"
#include "numerics/units.h"
#include "platform/numbers.h"

namespace zuba {
namespace {

constexpr int kDrawnSamples = 720;  // per orbit: a point every half degree

// One orbit's curves: azimuth (deg), R - Rmean (mm) and dR/dtau (mm/rad), thinned.
struct OrbitCurves {
  int32_t energy = 0;
  std::vector<double> thetaDeg, dR, vR;
};

OrbitCurves CurvesOf(const ResultTables& r, const SampleSpan& span, int32_t energy) {
  OrbitCurves c;
  c.energy = energy;
  const std::span<const double> R = r.OrbitR.values(), theta = r.OrbitTheta.values(),
                                vR = r.OrbitVr.values();
  // The mean radius of the record; the mean of the samples where the record has none.
  double mean = energy < r.Rmn.size() ? r.Rmn[energy] : kNoValue;
  if (!std::isfinite(mean) || mean == kNoValue) {
    double sum = 0;
    for (int64_t k = span.first; k < span.first + span.count; ++k) sum += R[static_cast<size_t>(k)];
    mean = sum / static_cast<double>(span.count);
  }
  const int64_t stride = std::max<int64_t>(1, span.count / kDrawnSamples);
  for (int64_t k = span.first; k < span.first + span.count; k += stride) {
    const size_t i = static_cast<size_t>(k);
    c.thetaDeg.push_back(Degrees(theta[i]));
    c.dR.push_back((R[i] - mean) * 1e3);
    c.vR.push_back(vR[i] * 1e3);
  }
  return c;
}

QColor CurveColour(size_t k) {
  static const QColor colours[] = {QColor(31, 119, 180), QColor(255, 127, 14),
                                   QColor(44, 160, 44),  QColor(148, 103, 189),
                                   QColor(140, 86, 75),  QColor(23, 190, 207)};
  return colours[k % std::size(colours)];
}

std::pair<double, double> RangeOf(const std::vector<OrbitCurves>& curves,
                                  const std::vector<OrbitCurves>& compared,
                                  std::vector<double> OrbitCurves::*member) {
  double low = INFINITY, high = -INFINITY;
  for (const std::vector<OrbitCurves>* set : {&curves, &compared})
    for (const OrbitCurves& c : *set) {
      auto [l, h] = FiniteRange(c.*member);
      low = std::min(low, l);
      high = std::max(high, h);
    }
  return {low, high};
}

// The pen of curve k: its colour, red when chosen; dashed for the compared record.
QPen CurvePen(size_t k, bool chosen, bool compared) {
  QPen pen = chosen ? QPen(QColor(214, 39, 40), 2.2) : QPen(CurveColour(k), 1.2);
  if (compared) pen.setStyle(Qt::DashLine);
  return pen;
}

// compared: the compared record's curves of the same energies, entry k beside curve k (empty
// where it has none), drawn dashed.
void DrawPanel(QPainter& painter, QRectF panel, int logicalDpi,
               const std::vector<OrbitCurves>& curves, const std::vector<OrbitCurves>& compared,
               std::vector<double> OrbitCurves::*member, const QString& title,
               const QString& caption, const std::vector<LegendEntry>& legend, int32_t selected,
               const QString& note) {
  PlotFrame frame(panel, logicalDpi);
  const auto [x0, x1] = RangeOf(curves, compared, &OrbitCurves::thetaDeg);
  const auto [yLow, yHigh] = RangeOf(curves, compared, member);
  const auto [y0, y1] = Padded(yLow, yHigh, 0.06);
  frame.SetRanges(x0, x1, y0, y1);
  frame.DrawAxes(painter, title, QStringLiteral("θ (deg)"), caption);
  for (size_t k = 0; k < curves.size(); ++k) {
    const bool chosen = curves[k].energy == selected;
    frame.DrawSeries(painter, curves[k].thetaDeg, curves[k].*member, CurvePen(k, chosen, false));
    if (k < compared.size() && !compared[k].thetaDeg.empty())
      frame.DrawSeries(painter, compared[k].thetaDeg, compared[k].*member,
                       CurvePen(k, chosen, true));
  }
  frame.DrawLegend(painter, legend);
  if (!note.isEmpty()) frame.DrawNote(painter, note);
}

}  // namespace

std::vector<int32_t> OrbitGraphEnergies(int32_t count, int32_t selected) {
  std::vector<int32_t> energies = SpreadEnergies(count, kOrbitGraphOthers);
  if (selected >= 0 && selected < count) {
    energies.erase(std::remove(energies.begin(), energies.end(), selected), energies.end());
    energies.push_back(selected);
  }
  return energies;
}

GraphDrawing DrawOrbitGraph(QPainter& painter, const ResultTables& results,
                            const GraphExtras& extras, QSize clientSize, int logicalDpi) {
  const std::vector<SampleSpan> spans = OrbitSpans(results);
  std::vector<OrbitCurves> curves;
  for (int32_t i : OrbitGraphEnergies(static_cast<int32_t>(spans.size()), extras.selected))
    if (spans[static_cast<size_t>(i)].count >= 2) curves.push_back(CurvesOf(results, spans[i], i));
  if (curves.empty()) return NotDrawn("The record holds no orbit samples to draw!");
  std::vector<LegendEntry> legend;
  for (size_t k = 0; k < curves.size(); ++k) {
    const int32_t i = curves[k].energy;
    const bool chosen = i == extras.selected;
    QString text = QString::fromStdString(EnergyLabel(results, i));
    if (i < results.Rmn.size() && results.Rmn[i] != kNoValue)
      text += QStringLiteral(", Rmean %1 m").arg(results.Rmn[i], 0, 'f', 4);
    legend.push_back({CurvePen(k, chosen, false), text});
  }
  // The compared record's orbits of the same energies, dashed; the legend names both files.
  std::vector<OrbitCurves> compared;
  if (const ResultTables* other = extras.compare) {
    const std::vector<SampleSpan> otherSpans = OrbitSpans(*other);
    for (const OrbitCurves& c : curves) {
      compared.emplace_back();
      const double ek = results.Ek[c.energy];
      for (int64_t j = 0; j < other->Ek.size() && j < std::ssize(otherSpans); ++j)
        if (std::fabs(other->Ek[j] - ek) <= 1e-9 * std::fabs(ek) &&
            otherSpans[static_cast<size_t>(j)].count >= 2) {
          compared.back() =
              CurvesOf(*other, otherSpans[static_cast<size_t>(j)], static_cast<int32_t>(j));
          break;
        }
    }
    const QString first = QString::fromStdString(extras.name.empty() ? "first" : extras.name);
    const QString second =
        QString::fromStdString(extras.compareName.empty() ? "second" : extras.compareName);
    legend.push_back({QPen(Qt::black, 1.2), QStringLiteral("solid: %1").arg(first)});
    QPen dashed(Qt::black, 1.2);
    dashed.setStyle(Qt::DashLine);
    legend.push_back({dashed, QStringLiteral("dashed: %1").arg(second)});
  }

  const QRectF client(QPointF(0, 0), QSizeF(clientSize));
  const bool velocity = results.closure.mode == 1;
  const QString note = extras.selected >= 0 ? QString()
                                            : QStringLiteral(
                                                  "Select an energy in the results table "
                                                  "to draw its orbit in red.");
  painter.save();
  if (!velocity) {
    DrawPanel(painter, client, logicalDpi, curves, compared, &OrbitCurves::dR,
              QStringLiteral("Orbit radius: R(θ) - Rmean"), QStringLiteral("R - Rmean (mm)"),
              legend, extras.selected, note);
  } else {
    const double split = client.height() * 0.56;
    DrawPanel(painter, QRectF(0, 0, client.width(), split), logicalDpi, curves, compared,
              &OrbitCurves::dR, QStringLiteral("Orbit radius: R(θ) - Rmean"),
              QStringLiteral("R - Rmean (mm)"), legend, extras.selected, QString());
    DrawPanel(painter, QRectF(0, split, client.width(), client.height() - split), logicalDpi,
              curves, compared, &OrbitCurves::vR, QStringLiteral("Radial velocity dR/dτ"),
              QStringLiteral("dR/dτ (mm/rad)"), {}, extras.selected, note);
  }
  painter.restore();
  return {true, {}};
}

}  // namespace zuba
