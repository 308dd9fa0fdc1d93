// The field harmonics view (see harmonics_plot.h).
#include "graph/harmonics_plot.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cmath>
#include <numbers>

#include "graph/orbit_samples.h"
#include "graph/plot_frame.h"
#include "numerics/azimuthal.h"
#include "numerics/units.h"
#include "platform/numbers.h"

namespace zuba {
namespace {

// The analysis of the map in the cache, made again for another map or number of sectors.
const GraphCache& CachedAnalysis(const GraphExtras& extras, int32_t N, GraphCache& cache) {
  if (cache.analysed && cache.analysisGrid == extras.map && cache.analysisSectors == N)
    return cache;
  const FieldGrid& grid = *extras.map;
  cache.analysis = AverageFieldAnalysis{};
  cache.analysisFailure.clear();
  const Outcome o = AnalyseAverageField(grid.field, grid.radii, N, grid.thetaStart, grid.thetaEnd,
                                        grid.nTheta(), cache.analysis);
  if (!o) cache.analysisFailure = o.message().text;
  cache.analysisGrid = extras.map;
  cache.analysisSectors = N;
  cache.analysed = true;
  return cache;
}

struct Panel {
  QString title, caption;
  std::vector<double> values;
  QColor colour;
  bool fromZero =
      false;  // an amplitude: the axis starts at 0, so that noise looks as small as it is
};

}  // namespace

GraphDrawing DrawHarmonicsGraph(QPainter& painter, const ResultTables& results,
                                const GraphExtras& extras, QSize clientSize, int logicalDpi) {
  if (!extras.map || !extras.map->usable()) {
    const std::string why =
        extras.mapNote.empty() ? "the record names no field map" : extras.mapNote;
    return NotDrawn("The field harmonics need the run's field map: " + why);
  }
  const int32_t N = results.run.N;
  if (N < 2)
    return NotDrawn("The field harmonics need a machine of at least 2 sectors (N = " +
                    std::to_string(N) + ")!");
  GraphCache local;
  const GraphCache& cache = CachedAnalysis(extras, N, extras.cache ? *extras.cache : local);
  if (!cache.analysisFailure.empty())
    return NotDrawn("The field harmonics cannot be found: " + cache.analysisFailure);
  const AverageFieldAnalysis& a = cache.analysis;
  const FieldGrid& grid = *extras.map;
  const int32_t count = HarmonicCount(N);
  const int32_t first = 0, sectors = N - 1;  // list positions of harmonics 1 and N
  const size_t nR = grid.radii.size();
  auto harmonic = [&](const std::vector<double>& table, int32_t p, double scale) {
    std::vector<double> values(nR, kNoValue);
    for (size_t i = 0; i < nR; ++i) {
      const size_t k = i * static_cast<size_t>(count) + static_cast<size_t>(p);
      if (k < table.size()) values[i] = table[k] * scale;
    }
    return values;
  };
  const double degrees = Degrees(1);  // degree per rad
  const QString n = QString::number(N);
  const std::vector<Panel> panels = {
      {QStringLiteral("Mean field"), QStringLiteral("B (T)"), a.meanField, QColor(31, 119, 180)},
      {QStringLiteral("Field index k = (R/B) dB/dR"), QStringLiteral("k"), a.fieldIndex,
       QColor(31, 119, 180)},
      {QStringLiteral("Amplitude of harmonic 1"), QStringLiteral("A1 (mT)"),
       harmonic(a.amplitude, first, 1e3), QColor(255, 127, 14), true},
      {QStringLiteral("Phase of harmonic 1"), QStringLiteral("phase 1 (deg)"),
       harmonic(a.phase, first, degrees), QColor(255, 127, 14)},
      {QStringLiteral("Amplitude of harmonic %1").arg(n), QStringLiteral("A%1 (T)").arg(n),
       harmonic(a.amplitude, sectors, 1.0), QColor(44, 160, 44), true},
      {QStringLiteral("Phase of harmonic %1").arg(n), QStringLiteral("phase %1 (deg)").arg(n),
       harmonic(a.phase, sectors, degrees), QColor(44, 160, 44)}};

  // Three rows of two panels over a line for the note.
  const QRectF client(QPointF(0, 0), QSizeF(clientSize));
  PlotFrame probe(client, logicalDpi);
  const double H = QFontMetricsF(probe.textFont).height();
  const double noteHeight = 1.6 * H;
  const double w = client.width() / 2, h = (client.height() - noteHeight) / 3;
  const bool marked = extras.selected >= 0 && extras.selected < results.Rmn.size() &&
                      results.Rmn[extras.selected] != kNoValue;
  const auto [r0, r1] = FiniteRange(grid.radii);

  painter.save();
  for (size_t k = 0; k < panels.size(); ++k) {
    const Panel& p = panels[k];
    const size_t column = k % 2, row = k / 2;  // two panels a row
    PlotFrame frame(QRectF(static_cast<double>(column) * w, static_cast<double>(row) * h, w, h),
                    logicalDpi);
    frame.OmitNoteLine();
    auto [y0, y1] = FiniteRange(p.values);
    if (p.fromZero) y0 = std::min(y0, 0.0);
    std::tie(y0, y1) = Padded(y0, y1, 0.06);
    if (p.fromZero && y0 < 0 && FiniteRange(p.values).first >= 0) y0 = 0;
    frame.SetRanges(r0, r1, y0, y1);
    frame.DrawAxes(painter, p.title, QStringLiteral("R (m)"), p.caption);
    frame.DrawSeries(painter, grid.radii, p.values, QPen(p.colour, 1.4));
    if (marked) {
      const double x = frame.X(results.Rmn[extras.selected]);
      painter.setPen(QPen(QColor(214, 39, 40), 1.2, Qt::DashLine));
      painter.drawLine(QPointF(x, frame.Plot().top()), QPointF(x, frame.Plot().bottom()));
    }
  }
  QString note =
      QStringLiteral("Map %1, N = %2 sectors").arg(QString::fromStdString(grid.path)).arg(N);
  if (marked)
    note += QStringLiteral("; dashed: Rmean of the %1 orbit")
                .arg(QString::fromStdString(EnergyLabel(results, extras.selected)));
  if (!extras.mapNote.empty())
    note += QStringLiteral("; ") + QString::fromStdString(extras.mapNote);
  painter.setFont(probe.textFont);
  painter.setPen(Qt::black);
  painter.drawText(QRectF(0.5 * H, client.bottom() - noteHeight, client.width() - H, noteHeight),
                   Qt::AlignLeft | Qt::AlignVCenter, note);
  painter.restore();
  return {true, {}};
}

}  // namespace zuba
