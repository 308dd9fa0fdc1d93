// CZUBAView: the results view and its printing (see view.h).
#include "graph/view.h"

#include <QFont>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPrinter>
#include <QTimer>
#include <algorithm>
#include <stdexcept>
#include <string>

#include "graph/results_plot.h"
#include "platform/message.h"

namespace zuba {

CZUBAView::CZUBAView(QWidget* parent) : QWidget(parent) {
  // A white client area, erased before every paint.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAutoFillBackground(false);
  setMinimumSize(1, 1);
  results_.reset();
}

void CZUBAView::ShowResults(const ResultTables& results, bool available,
                            std::optional<ViewMap> map) {
  results_ = results;
  available_ = available;
  ++resultsGeneration_;
  selected_ = -1;
  cache_.Clear();
  mapKnown_ = map.has_value();
  map_ = map ? std::move(*map) : ViewMap{};
  if (GraphNeedsMap(graphKind_)) Map();
  difference_ = nullptr;  // the difference of another run's map
  differenceName_.clear();
  emit resultsRefreshed();
  update();
}

GraphDrawing CZUBAView::OnDraw(QPainter& painter, QSize clientSize) {
  if (!available_) return {};
  // A run whose every energy failed has no point to draw its energies' graphs with: the view says
  // so (instead of the scaling's message over a blank view).
  const bool ofEnergies = graphKind_ == GraphKind::Frequency ||
                          graphKind_ == GraphKind::Isochronism || graphKind_ == GraphKind::Tunes;
  if (ofEnergies && NoEnergyHasValues(results_)) {
    DrawNoEnergyHasValues(painter, clientSize, kScreenLogicalDpi);
    return {true, {}};
  }
  return DrawGraph(painter, results_, graphKind_, clientSize, ExtrasAsTheyAre());
}

void CZUBAView::SetSelectedEnergy(int32_t energy) {
  if (energy < 0 || energy >= results_.Ek.size()) energy = -1;
  if (energy == selected_) return;
  selected_ = energy;
  update();
}

void CZUBAView::SetMapSource(ViewMapSource source) {
  mapSource_ = std::move(source);
}

const ViewMap& CZUBAView::Map() {
  if (!mapKnown_) {
    map_ = mapSource_ ? mapSource_(results_) : ViewMap{nullptr, "No field map is at hand."};
    mapKnown_ = true;
  }
  return map_;
}

GraphExtras CZUBAView::ExtrasAsTheyAre() {
  GraphExtras extras;
  extras.selected = selected_;
  extras.cache = &cache_;
  extras.compare = compare_.get();
  extras.compareName = compareName_;
  if (title_) extras.name = title_().toStdString();
  if (graphKind_ == GraphKind::Map && difference_) {
    extras.map = difference_;
    extras.difference = true;
    extras.differenceName = differenceName_;
  } else if (GraphNeedsMap(graphKind_)) {
    extras.map = map_.grid;
    extras.mapNote = mapKnown_ ? map_.note : std::string();
  }
  return extras;
}

GraphExtras CZUBAView::Extras() {
  if (GraphNeedsMap(graphKind_)) Map();
  return ExtrasAsTheyAre();
}

void CZUBAView::SetCompare(std::shared_ptr<const ResultTables> other, std::string name) {
  compare_ = std::move(other);
  compareName_ = compare_ ? std::move(name) : std::string();
  update();
}

void CZUBAView::SetMapDifference(std::shared_ptr<const FieldGrid> difference, std::string name) {
  difference_ = std::move(difference);
  differenceName_ = difference_ ? std::move(name) : std::string();
  update();
}

void CZUBAView::SetGraphKind(GraphKind kind) {
  if (kind == graphKind_) return;
  graphKind_ = kind;
  ++resultsGeneration_;  // the notes of the new graph are shown once again
  if (GraphNeedsMap(graphKind_)) Map();
  update();
}

void CZUBAView::ShowOnceAfterPaint(std::vector<Message> messages) {
  if (messages.empty() || messagesShownFor_ == resultsGeneration_) return;
  messagesShownFor_ = resultsGeneration_;
  // A message box raised inside a paint would bring the next paint, and with it the next box.
  QTimer::singleShot(0, this, [messages = std::move(messages)] {
    for (const Message& m : messages) ShowMessage(m);
  });
}

void CZUBAView::DrawGuarded(QPainter& painter, QSize clientSize) {
  try {
    ShowOnceAfterPaint(OnDraw(painter, clientSize).notes);
  } catch (const std::invalid_argument& e) {
    // A document whose F0 table is shorter than Rmn (only a damaged file holds one): the drawing
    // ends without a graph, and the failure is reported once, after the paint.
    ShowOnceAfterPaint({Message{std::string("The results cannot be drawn: ") + e.what() + "!",
                                "Error", Icon::Error, Owner::View}});
  }
}

void CZUBAView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  DrawGuarded(painter, size());
}

void CZUBAView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit stopRequested();
  QWidget::mouseDoubleClickEvent(event);
}

QString CZUBAView::PrintHeader() const {
  return QStringLiteral("File:  ") + (title_ ? title_() : QString());
}

void CZUBAView::PrintPage(QPainter& painter, QSize pageSize, int dpiX, int dpiY) {
  // Logical units are the screen pixels of the client area: the larger of its dimensions maps
  // onto 8 inches of paper, the same scale on both axes.
  const QSize client = size();
  const int windowX = std::max(1, client.width() / 8);
  const int windowY = std::max(1, client.height() / 8);
  const double scale = std::min(static_cast<double>(dpiX) / windowX,
                                static_cast<double>(dpiY) / windowY);  // device px per unit
  const double left = 0.0, top = 0.0;
  const double right = pageSize.width() / scale;

  painter.save();
  painter.scale(scale, scale);

  // 12 pt Times New Roman on this device, in logical units.
  QFont font(QStringLiteral("Times New Roman"));
  font.setPixelSize(std::max(1, qRound(12.0 * dpiY / 72.0 / scale)));
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.setBackgroundMode(Qt::TransparentMode);
  const double T = QFontMetricsF(font, painter.device()).height();

  // The header, centred, its top 2T below the top of the page.
  const QString header = PrintHeader();
  painter.drawText(QRectF(left, top + 2 * T, right - left, 2 * T), Qt::AlignHCenter | Qt::AlignTop,
                   header);

  // The graph's origin directly under the header line.
  painter.translate(left, top + 3 * T);
  DrawGuarded(painter, client);
  painter.restore();
}

bool CZUBAView::Print(QPrinter& printer) {
  QPainter painter;
  if (!painter.begin(&printer)) return false;
  const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
  PrintPage(painter, page.size(), printer.resolution(), printer.resolution());
  painter.end();
  return true;
}

}  // namespace zuba
