#include "recording_device.h"

#include <QPainterPath>
#include <QTextItem>

namespace zuba::test {

namespace {

class RecordingEngine : public QPaintEngine {
 public:
  RecordingEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
  bool begin(QPaintDevice*) override { return true; }
  bool end() override { return true; }
  Type type() const override { return QPaintEngine::User; }
  void updateState(const QPaintEngineState& state) override {
    if (state.state() & QPaintEngine::DirtyPen) pen_ = state.pen();
  }
  void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
  void drawTextItem(const QPointF& p, const QTextItem& item) override {
    recording.texts.push_back({item.text().toStdString(), p, item.font(), pen_.color()});
  }
  void drawLines(const QLineF* lines, int count) override {
    recording.lines.insert(recording.lines.end(), lines, lines + count);
  }
  void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override {
    if (mode == PolylineMode) {
      recording.polylines.emplace_back(QList<QPointF>(points, points + count));
    } else {
      recording.shapes.push_back(QPolygonF(QList<QPointF>(points, points + count)).boundingRect());
    }
  }
  void drawPath(const QPainterPath& path) override {
    recording.shapes.push_back(path.boundingRect());
  }
  void drawRects(const QRectF* rects, int count) override {
    recording.shapes.insert(recording.shapes.end(), rects, rects + count);
  }

  Recording recording;

 private:
  QPen pen_;
};

}  // namespace

std::vector<std::string> Recording::textStrings() const {
  std::vector<std::string> out;
  for (const auto& t : texts) out.push_back(t.text);
  return out;
}

const RecordedText* Recording::find(const std::string& text, size_t occurrence) const {
  for (const auto& t : texts)
    if (t.text == text && occurrence-- == 0) return &t;
  return nullptr;
}

RecordingDevice::RecordingDevice(QSize size)
    : size_(size), engine_(std::make_unique<RecordingEngine>()) {}
RecordingDevice::~RecordingDevice() = default;

QPaintEngine* RecordingDevice::paintEngine() const {
  return engine_.get();
}

const Recording& RecordingDevice::recording() const {
  return static_cast<RecordingEngine*>(engine_.get())->recording;
}

int RecordingDevice::metric(PaintDeviceMetric metric) const {
  switch (metric) {
    case PdmWidth:
      return size_.width();
    case PdmHeight:
      return size_.height();
    case PdmWidthMM:
      return size_.width() * 254 / 960;
    case PdmHeightMM:
      return size_.height() * 254 / 960;
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY:
      return 96;
    case PdmDepth:
      return 32;
    case PdmNumColors:
      return 0x7fffffff;
    case PdmDevicePixelRatio:
      return 1;
    case PdmDevicePixelRatioScaled:
      return static_cast<int>(QPaintDevice::devicePixelRatioFScale());
    default:
      return 0;
  }
}

}  // namespace zuba::test
