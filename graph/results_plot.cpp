// The results graph as the results view draws it (see results_plot.h).
#include "graph/results_plot.h"

#include <QFont>
#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <vector>

namespace zuba {

void DrawCurve(QPainter& painter, std::span<const int32_t> xPixels,
               std::span<const int32_t> yPixels) {
  const size_t count = std::min(xPixels.size(), yPixels.size());
  QPolygon run;  // the valid points since the last break
  auto flush = [&] {
    if (run.size() >= 2) painter.drawPolyline(run);
    run.clear();
  };
  for (size_t i = 0; i < count; ++i) {
    if (xPixels[i] == kNoValueInt || yPixels[i] == kNoValueInt) {
      flush();
      continue;
    }
    run.append(QPoint(xPixels[i], yPixels[i]));
  }
  flush();
}

void DrawHighlight(QPainter& painter, std::span<const int32_t> xPixels,
                   std::span<const int32_t> yPixels, int32_t point) {
  if (point < 0 || static_cast<size_t>(point) >= std::min(xPixels.size(), yPixels.size())) return;
  const int32_t x = xPixels[static_cast<size_t>(point)], y = yPixels[static_cast<size_t>(point)];
  if (x == kNoValueInt || y == kNoValueInt) return;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setPen(QPen(QColor(230, 30, 30), 2));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(QPointF(x, y), 5.5, 5.5);
  painter.restore();
}

void DrawHollowPoints(QPainter& painter, std::span<const int32_t> xPixels,
                      std::span<const int32_t> yPixels, const std::vector<bool>& marked) {
  const size_t count = std::min({xPixels.size(), yPixels.size(), marked.size()});
  // Nothing marked: not even a change of the painter's state (a vector file would record it).
  if (std::find(marked.begin(), marked.begin() + static_cast<ptrdiff_t>(count), true) ==
      marked.begin() + static_cast<ptrdiff_t>(count))
    return;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setBrush(Qt::white);
  for (size_t i = 0; i < count; ++i) {
    if (!marked[i] || xPixels[i] == kNoValueInt || yPixels[i] == kNoValueInt) continue;
    painter.drawEllipse(QPointF(xPixels[i], yPixels[i]), 3.0, 3.0);
  }
  painter.restore();
}

std::string NoteWithHollowLegend(const std::string& note, const std::vector<bool>& marked) {
  if (std::find(marked.begin(), marked.end(), true) == marked.end()) return note;
  return note + "; hollow: not accepted by the standard search (its last trial)";
}

void DrawNoEnergyHasValues(QPainter& painter, QSize clientSize, int logicalDpi) {
  painter.save();
  painter.setPen(QColor(0, 0, 0));
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(std::max(1, 12 * logicalDpi / 72));  // 12 points
  painter.setFont(font);
  painter.drawText(QRect(QPoint(0, 0), clientSize), Qt::AlignCenter | Qt::TextWordWrap,
                   QStringLiteral("No energy of this run has an orbit: every energy failed. The "
                                  "results table gives each energy's reason."));
  painter.restore();
}

GraphDrawing DrawResultsGraph(QPainter& painter, const ResultTables& results, QSize clientSize,
                              int logicalDpi, int32_t highlight) {
  // The points: Rmn against F0, with the tables' checked element access.
  const uint32_t pointCount = static_cast<uint32_t>(static_cast<int32_t>(results.Rmn.size()));
  std::vector<double> x(pointCount), y(pointCount);
  for (uint32_t i = 0; i < pointCount; ++i) {
    x[i] = results.Rmn.at(i);
    y[i] = results.F0.at(i);
  }

  CCurve curve(QRect(QPoint(0, 0), clientSize), pointCount, logicalDpi);

  painter.save();
  const QPen gridPen(QBrush(QColor(0, 0, 0)), 1, Qt::SolidLine);
  const QPen curvePen(QBrush(QColor(0, 0, 255)), 1, Qt::SolidLine);
  painter.setPen(gridPen);
  painter.setBrush(Qt::white);  // the drawing surface's default brush fills the exponent boxes
  const std::vector<bool> marked = NotAcceptedEnergies(results);
  curve.Draw(painter, kResultsGraphTitle, kResultsGraphXCaption, kResultsGraphYCaption,
             NoteWithHollowLegend(kResultsGraphNote, marked), x, y);
  const bool drawn = curve.noData == 0;
  if (drawn) {
    painter.setPen(curvePen);
    painter.setBackgroundMode(Qt::TransparentMode);
    DrawCurve(painter, curve.xPixels, curve.yPixels);
    DrawHollowPoints(painter, curve.xPixels, curve.yPixels, marked);
    DrawHighlight(painter, curve.xPixels, curve.yPixels, highlight);
  }
  painter.restore();
  return {drawn, std::move(curve.notes)};
}

}  // namespace zuba
