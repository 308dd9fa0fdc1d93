// A paint device that records what is drawn on it: texts with their baseline position, font and
// colour, lines, polylines and filled shapes. Lets the tests check the drawing operations
// themselves instead of comparing pixels.
#pragma once

#include <QColor>
#include <QFont>
#include <QLineF>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPolygonF>
#include <QRectF>
#include <memory>
#include <string>
#include <vector>

namespace zuba::test {

struct RecordedText {
  std::string text;
  QPointF baseline;  // start of the baseline
  QFont font;
  QColor color;
};

struct Recording {
  std::vector<RecordedText> texts;
  std::vector<QLineF> lines;
  std::vector<QPolygonF> polylines;
  std::vector<QRectF> shapes;  // bounding boxes of paths (the rounded boxes)

  std::vector<std::string> textStrings() const;
  const RecordedText* find(const std::string& text, size_t occurrence = 0) const;
};

class RecordingDevice : public QPaintDevice {
 public:
  explicit RecordingDevice(QSize size);
  ~RecordingDevice() override;
  QPaintEngine* paintEngine() const override;
  const Recording& recording() const;

 protected:
  int metric(PaintDeviceMetric metric) const override;

 private:
  QSize size_;
  std::unique_ptr<QPaintEngine> engine_;
};

}  // namespace zuba::test
