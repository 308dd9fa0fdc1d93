// The field map and closed orbits view (see map_plot.h).
#include "graph/map_plot.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "graph/colour_scale.h"
#include "graph/orbit_samples.h"
#include "graph/plot_frame.h"

namespace zuba {
namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

// The orbits of the record in the cache, made again when the record's tables are not those they
// were made from.
const GraphCache& CachedOrbits(const ResultTables& results, GraphCache& cache) {
  if (!cache.orbitR.sharesStorageWith(results.OrbitR) ||
      !cache.orbitTheta.sharesStorageWith(results.OrbitTheta) ||
      !cache.orbitPoints.sharesStorageWith(results.OrbitPoints) || results.OrbitR.empty()) {
    cache.orbits = ThinnedOrbits(results, kOrbitDrawSamples);
    cache.orbitRadius = 0;
    for (const QPolygonF& orbit : cache.orbits)
      for (const QPointF& p : orbit)
        cache.orbitRadius = std::max(cache.orbitRadius, std::hypot(p.x(), p.y()));
    cache.orbitR = results.OrbitR;
    cache.orbitTheta = results.OrbitTheta;
    cache.orbitPoints = results.OrbitPoints;
    cache.layer = QImage();
  }
  return cache;
}

// The ends of the colour scale: the smallest and largest field value of the map; for a difference
// symmetric about zero, from minus to plus the largest magnitude.
std::pair<double, double> FieldRange(const FieldGrid& grid, bool difference) {
  auto [low, high] = FiniteRange(grid.field);
  if (difference) {
    const double m = std::max(std::fabs(low), std::fabs(high));
    return m > 0 ? std::pair{-m, m} : std::pair{-1e-6, 1e-6};
  }
  if (!(high > low)) high = low + 1e-6;
  return {low, high};
}

void DrawColourBar(QPainter& painter, const PlotFrame& frame, double low, double high,
                   bool difference) {
  const QFontMetricsF fm(frame.textFont);
  const double H = fm.height();
  const QRectF plot = frame.Plot();
  const QRectF bar(plot.right() + 1.2 * H, plot.top() + 1.5 * H, 1.1 * H, plot.height() - 1.5 * H);
  QImage strip(1, 256, QImage::Format_RGB32);
  const auto& table = difference ? DivergingTable() : ViridisTable();
  for (int k = 0; k < 256; ++k) strip.setPixel(0, 255 - k, table[static_cast<size_t>(k)]);
  painter.save();
  painter.drawImage(bar, strip);
  painter.setPen(QPen(Qt::black, 0));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(bar);
  painter.setFont(frame.textFont);
  const Ticks ticks = NiceTicks(low, high, std::max(3, static_cast<int>(bar.height() / 70)));
  for (double v : ticks.values) {
    const double y = bar.bottom() - (v - low) / (high - low) * bar.height();
    painter.drawLine(QPointF(bar.right(), y), QPointF(bar.right() + 0.3 * H, y));
    painter.drawText(QRectF(bar.right() + 0.45 * H, y - H / 2, 5 * H, H),
                     Qt::AlignLeft | Qt::AlignVCenter, TickLabel(v, ticks.step));
  }
  painter.drawText(QRectF(bar.left() - H, plot.top(), 5 * H, H), Qt::AlignLeft | Qt::AlignTop,
                   difference ? QStringLiteral("ΔB (T)") : QStringLiteral("B (T)"));
  painter.restore();
}

// Every how many orbits one is emphasised: about ten of them.
int32_t EmphasisStep(int32_t count) {
  return std::max(1, (count + 9) / 10);
}

// "2nd", "3rd", "10th", "21st".
QString Ordinal(int k) {
  const int tens = k % 100, ones = k % 10;
  const char* suffix = "th";
  if (tens < 11 || tens > 13)
    suffix = ones == 1 ? "st" : ones == 2 ? "nd" : ones == 3 ? "rd" : "th";
  return QString::number(k) + QString::fromLatin1(suffix);
}

// The polyline of an orbit in the plot's pixels.
QPolygonF InPixels(const QPolygonF& orbit, const PlotFrame& frame) {
  QPolygonF out;
  out.reserve(orbit.size());
  for (const QPointF& p : orbit) out.append(frame.Map(p.x(), p.y()));
  return out;
}

// How the orbits are drawn: over a field map, alone, over a difference map.
enum class OrbitStyle { OverMap, Alone, OverDifference };

// Every orbit thin, every k-th one emphasised, in the frame's logical pixels: over a map in white
// (with a dark edge), alone in grey and blue, over the blue, white and red of a difference in black
// (with a light edge).
void DrawOrbits(QPainter& painter, const std::vector<QPolygonF>& orbits, const PlotFrame& frame,
                OrbitStyle style) {
  const int32_t n = static_cast<int32_t>(orbits.size());
  const int32_t every = EmphasisStep(n);
  const bool overMap = style == OrbitStyle::OverMap;
  const bool overDifference = style == OrbitStyle::OverDifference;
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setPen(QPen(overMap          ? QColor(255, 255, 255, 110)
                      : overDifference ? QColor(30, 30, 30, 120)
                                       : QColor(90, 90, 90, 140),
                      0.6));
  for (int32_t i = 0; i < n; ++i)
    if (orbits[i].size() >= 2) painter.drawPolyline(InPixels(orbits[i], frame));
  for (int32_t i = 0; i < n; ++i) {
    if (orbits[i].size() < 2 || (i % every != 0 && i != n - 1)) continue;
    const QPolygonF line = InPixels(orbits[i], frame);
    painter.setPen(QPen(overDifference ? QColor(255, 255, 255, 170) : QColor(0, 0, 0, 150), 2.6));
    painter.drawPolyline(line);
    painter.setPen(QPen(overMap          ? QColor(255, 255, 255)
                        : overDifference ? QColor(0, 0, 0)
                                         : QColor(0, 0, 255),
                        1.3));
    painter.drawPolyline(line);
  }
}

// A device of pixels (screen, image): the colour map and the orbits are drawn once into a layer
// of its resolution and copied at every paint.
bool RasterDevice(const QPainter& painter) {
  const int type = painter.device() ? painter.device()->devType() : 0;
  return type == QInternal::Image || type == QInternal::Widget || type == QInternal::Pixmap;
}

}  // namespace

QImage MapImage(const FieldGrid& grid, int pixels, double halfWidth, double low, double high,
                bool diverging) {
  QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  if (!grid.usable() || pixels <= 0 || !(halfWidth > 0)) return image;
  const auto& table = diverging ? DivergingTable() : ViridisTable();
  const std::vector<double>& radii = grid.radii;
  const int32_t nTheta = grid.nTheta();
  const double dTheta = kTwoPi / nTheta;
  const double rLow = radii.front(), rHigh = radii.back();
  const double toIndex = 255.0 / (high - low);
  const double pixel = 2 * halfWidth / pixels;
  for (int py = 0; py < pixels; ++py) {
    const double y = halfWidth - (py + 0.5) * pixel;
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(py));
    for (int px = 0; px < pixels; ++px) {
      const double x = -halfWidth + (px + 0.5) * pixel;
      const double r = std::sqrt(x * x + y * y);
      if (r < rLow || r > rHigh) continue;
      // Radius: the interval that holds r.
      const auto upper = std::upper_bound(radii.begin(), radii.end(), r);
      const size_t i1 =
          std::min<size_t>(static_cast<size_t>(upper - radii.begin()), radii.size() - 1);
      const size_t i0 = i1 == 0 ? 0 : i1 - 1;
      const double span = radii[i1] - radii[i0];
      const double fr = span > 0 ? (r - radii[i0]) / span : 0.0;
      // Azimuth: one full turn from the first node, periodic.
      double theta = std::atan2(y, x) - grid.thetaStart;
      theta -= kTwoPi * std::floor(theta / kTwoPi);
      const double t = theta / dTheta;
      const int32_t j0 = static_cast<int32_t>(t) % nTheta;
      const int32_t j1 = (j0 + 1) % nTheta;
      const double ft = t - std::floor(t);
      const double* row0 = grid.field.data() + i0 * nTheta;
      const double* row1 = grid.field.data() + i1 * nTheta;
      const double b = (1 - fr) * ((1 - ft) * row0[j0] + ft * row0[j1]) +
                       fr * ((1 - ft) * row1[j0] + ft * row1[j1]);
      const double index = std::clamp((b - low) * toIndex, 0.0, 255.0);
      line[px] = table[static_cast<size_t>(std::lround(index))];
    }
  }
  return image;
}

std::vector<QPolygonF> ThinnedOrbits(const ResultTables& results, int samplesPerOrbit) {
  const std::vector<SampleSpan> spans = OrbitSpans(results);
  const std::span<const double> R = results.OrbitR.values(), theta = results.OrbitTheta.values();
  std::vector<QPolygonF> orbits(spans.size());
  for (size_t i = 0; i < spans.size(); ++i) {
    const SampleSpan s = spans[i];
    if (s.count < 2) continue;
    const int64_t wanted = std::max(2, samplesPerOrbit);
    const int64_t stride = std::max<int64_t>(1, (s.count + wanted - 1) / wanted);
    QPolygonF& orbit = orbits[i];
    orbit.reserve(static_cast<qsizetype>(s.count / stride) + 2);
    auto add = [&](int64_t k) {
      const double r = R[static_cast<size_t>(k)], a = theta[static_cast<size_t>(k)];
      if (std::isfinite(r) && std::isfinite(a))
        orbit.append(QPointF(r * std::cos(a), r * std::sin(a)));
    };
    for (int64_t k = s.first; k < s.first + s.count; k += stride) add(k);
    if ((s.count - 1) % stride != 0) add(s.first + s.count - 1);
  }
  return orbits;
}

GraphDrawing DrawMapGraph(QPainter& painter, const ResultTables& results, const GraphExtras& extras,
                          QSize clientSize, int logicalDpi) {
  GraphCache local;
  GraphCache& cache = extras.cache ? *extras.cache : local;
  const std::vector<QPolygonF>& orbits = CachedOrbits(results, cache).orbits;
  const FieldGrid* grid = extras.map && extras.map->usable() ? extras.map.get() : nullptr;
  const double reach = std::max(grid ? grid->radii.back() : 0.0, cache.orbitRadius);
  if (!(reach > 0)) return NotDrawn("There is neither a field map nor an orbit to draw!");
  const double half = reach * 1.04;

  PlotFrame frame(QRectF(QPointF(0, 0), QSizeF(clientSize)), logicalDpi);
  const double H = QFontMetricsF(frame.textFont).height();
  frame.SetRanges(-half, half, -half, half);
  if (grid) frame.ReserveRight(6.5 * H);
  frame.EqualAspect();

  painter.save();
  const bool difference = extras.difference && grid != nullptr;
  frame.DrawAxes(painter,
                 QString::fromLatin1(difference ? kMapDifferenceGraphTitle : kMapGraphTitle),
                 QStringLiteral("x (m)"), QStringLiteral("y (m)"));
  const QRectF plot = frame.Plot();

  // The colour image, made again when the map, its size on the device or the extent changed.
  const double deviceScale = std::max(1.0, std::abs(painter.deviceTransform().m11()));
  const int pixels = std::clamp(static_cast<int>(std::lround(plot.width() * deviceScale)), 1, 2400);
  if (grid) {
    const auto [low, high] = FieldRange(*grid, difference);
    if (cache.imageGrid.get() != grid || cache.imagePixels != QSize(pixels, pixels) ||
        cache.imageHalfWidth != half || cache.imageDiverging != difference) {
      cache.image = MapImage(*grid, pixels, half, low, high, difference);
      cache.imageGrid = extras.map;
      cache.imageDiverging = difference;
      cache.imagePixels = QSize(pixels, pixels);
      cache.imageHalfWidth = half;
      cache.fieldLow = low;
      cache.fieldHigh = high;
      cache.layer = QImage();
    }
    DrawColourBar(painter, frame, low, high, difference);
  }
  const OrbitStyle style = !grid        ? OrbitStyle::Alone
                           : difference ? OrbitStyle::OverDifference
                                        : OrbitStyle::OverMap;

  // The map and the orbits: on a device of pixels from the layer (made again with the image, the
  // orbits or the plot's size), elsewhere (SVG, PDF, paper) as lines.
  if (RasterDevice(painter)) {
    if (cache.layer.isNull() || cache.layer.size() != QSize(pixels, pixels) ||
        cache.layerPlotWidth != plot.width() || cache.layerOverMap != (grid != nullptr) ||
        cache.layerDark != difference) {
      cache.layer =
          grid ? cache.image.copy() : QImage(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
      if (!grid) cache.layer.fill(Qt::transparent);
      QPainter layer(&cache.layer);
      layer.scale(pixels / plot.width(), pixels / plot.height());
      layer.translate(-plot.topLeft());
      DrawOrbits(layer, orbits, frame, style);
      cache.layerPlotWidth = plot.width();
      cache.layerOverMap = grid != nullptr;
      cache.layerDark = difference;
    }
    painter.drawImage(plot, cache.layer);
  } else {
    if (grid) painter.drawImage(plot, cache.image);
    painter.save();
    painter.setClipRect(plot);
    DrawOrbits(painter, orbits, frame, style);
    painter.restore();
  }

  // The selected orbit over everything.
  const int32_t n = static_cast<int32_t>(orbits.size());
  const int32_t every = EmphasisStep(n);
  const int32_t selected = extras.selected;
  if (selected >= 0 && selected < n && orbits[selected].size() >= 2) {
    painter.save();
    painter.setClipRect(plot);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QPolygonF line = InPixels(orbits[selected], frame);
    painter.setPen(QPen(QColor(0, 0, 0, 170), 4.2));
    painter.drawPolyline(line);
    painter.setPen(QPen(QColor(230, 30, 30), 2.4));
    painter.drawPolyline(line);
    painter.restore();
  }

  // One line under the plot: what is drawn, or why the map is not.
  QString note;
  if (!extras.mapNote.empty()) {
    note = QString::fromStdString(extras.mapNote);
  } else if (difference) {
    note = QStringLiteral("%1 (%2 x %3 nodes, largest |ΔB| %4 T)")
               .arg(QString::fromStdString(extras.differenceName))
               .arg(grid->nR())
               .arg(grid->nTheta())
               .arg(cache.fieldHigh, 0, 'g', 4);
  } else if (grid) {
    note = QStringLiteral("Map %1 (%2 x %3 nodes, %4 .. %5 T)")
               .arg(QString::fromStdString(grid->path))
               .arg(grid->nR())
               .arg(grid->nTheta())
               .arg(cache.fieldLow, 0, 'g', 5)
               .arg(cache.fieldHigh, 0, 'g', 5);
  }
  QString orbitsText =
      every == 1 ? QStringLiteral("%1 orbits").arg(n)
                 : QStringLiteral("%1 orbits, every %2 emphasised").arg(n).arg(Ordinal(every));
  if (selected >= 0 && selected < n)
    orbitsText +=
        QStringLiteral(", %1 in red").arg(QString::fromStdString(EnergyLabel(results, selected)));
  frame.DrawNote(painter, note.isEmpty() ? orbitsText : note + QStringLiteral("; ") + orbitsText);
  painter.restore();
  return {true, {}};
}

}  // namespace zuba
