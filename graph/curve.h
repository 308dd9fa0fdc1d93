// CCurve: the graph of one series against another. It scales both axes and draws onto any
// QPainter (screen, image, SVG, PDF, printer) the grid with its tick labels, the axis captions,
// the title, the note under the plot, the value range of the vertical series in blue and the two
// exponent boxes. It leaves the pixel coordinates of every point in xPixels and yPixels; the
// caller joins them into the curve with its own pen.
#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "graph/axis_scaling.h"

class QPainter;

namespace zuba {

// The screen resolution the graph is laid out for, in logical pixels per inch.
inline constexpr int kScreenLogicalDpi = 96;

class CCurve : public AxisScaling {
 public:
  // frame: the drawing area in logical pixels (a client rectangle: origin (0, 0) and the size of
  // the client area). The fonts are sized from their point sizes at logicalDpi logical pixels per
  // inch, independent of the device painted on, so that a painter whose transformation maps the
  // screen layout onto paper scales the text together with the lines.
  CCurve(QRect frame, uint32_t pointCount, int logicalDpi = kScreenLogicalDpi);
  ~CCurve() override = default;

  // Scales both axes and draws. Lines and box outlines use the painter's pen, the boxes are filled
  // with its brush; texts use textColor (the value range blue). Nothing is drawn when a series has
  // no usable real value (noData is then 1). The painter's state is restored on return.
  void Draw(QPainter& painter, const std::string& title, const std::string& xCaption,
            const std::string& yCaption, const std::string& note, std::span<const double> xValues,
            std::span<const double> yValues);

  QColor textColor = Qt::black;  // the text colour of the drawing surface
  // The "Value Range" shown instead of the extremes of the vertical series, when set: for a graph
  // whose series holds points that widen the axes without being drawn.
  std::optional<std::pair<double, double>> shownValueRange;

  QFont titleFont;     // 12.5 pt "Times New Roman"
  QFont captionFont;   // 10 pt "Arial": axis captions and the value range
  QFont tickFont;      // 9 pt "Arial": tick labels; its metrics set every offset of the layout
  QFont exponentFont;  // 9 pt "Arial": the exponent boxes
  QFont noteFont;      // 10 pt "Arial": the note under the plot
};

}  // namespace zuba
