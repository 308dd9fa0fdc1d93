// CZUBAView: the results view of the desktop program. It shows the graph of the particle rotation
// frequency F0 against the mean orbit radius Rmn (or the isochronism error, or the tune diagram),
// prints it, and takes finished results over from the hand-over of the runs it shows. It reaches
// its document through ViewDocument. The commands that start and stop runs live with the
// application (app/), which listens to stopRequested().
#pragma once

#include <QSize>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "graph/closure_plot.h"
#include "graph/graph_extras.h"
#include "platform/message.h"
#include "results/hand_over.h"
#include "results/result_tables.h"

class QPainter;
class QPrinter;

namespace zuba {

// What the view needs of its document.
class ViewDocument {
 public:
  virtual ~ViewDocument() = default;
  // The document's instance of the results.
  virtual ResultTables& DocumentResults() = 0;
  virtual void SetModifiedFlag() = 0;
  // Notifies every view of the document (OnUpdate).
  virtual void UpdateAllViews() = 0;
  // The document's title: its file name, or the default name of a new document.
  virtual QString GetTitle() const = 0;
};

// The field map of the results shown, as the application finds it again for the map and the
// harmonics views: the grid (null when there is none to draw) and one line about it.
struct ViewMap {
  std::shared_ptr<const FieldGrid> grid;
  std::string note;
};
using ViewMapSource = std::function<ViewMap(const ResultTables& results)>;

class CZUBAView : public QWidget {
  Q_OBJECT

 public:
  // handOver: where the runs shown in this view hand their results over.
  explicit CZUBAView(ResultsHandOver& handOver, QWidget* parent = nullptr);

  void SetDocument(ViewDocument* document) { document_ = document; }
  ViewDocument* GetDocument() const { return document_; }

  // After a new or opened document is attached: the base refresh (OnUpdate), then the document's
  // results into the view's, and a repaint.
  void OnInitialUpdate();
  // Any update notification: the document's results into the view's; clears a pending transfer
  // without a repaint (it runs inside the paint that transfers), repaints otherwise.
  void OnUpdate();
  // The one drawing routine of screen, printer and preview: performs a pending transfer, then
  // draws the graph laid out in a client area of clientSize logical pixels. Returns what
  // DrawResultsGraph returned (false when nothing was drawn).
  bool OnDraw(QPainter& painter, QSize clientSize);
  // Copies LatestResults into the document when a completed run waits for its transfer.
  void TransferPendingResults();

  // The page of a print job or of the preview: the header "File:  <title>" in 12 pt Times New
  // Roman, and under it the graph as laid out for the current client size, scaled so that its
  // larger dimension spans 8 inches. pageSize is the printable area in device pixels, dpiX and dpiY
  // the device's pixels per inch.
  void PrintPage(QPainter& painter, QSize pageSize, int dpiX, int dpiY);
  // Prints one page on printer (a print job or a PDF file); false when the printer cannot be
  // painted on.
  bool Print(QPrinter& printer);
  // The header of a printed page.
  QString PrintHeader() const;

  // The graph that the view, its printing and its preview draw (View menu); the rotation frequency
  // unless set. Repaints.
  void SetGraphKind(GraphKind kind);
  GraphKind GetGraphKind() const { return graphKind_; }

  const ResultTables& ViewResults() const { return results_; }
  ResultsHandOver& HandOver() { return handOver_; }

  // The energy marked in every graph (a row chosen in the results table); -1 for none. A new
  // record clears it. Repaints.
  void SetSelectedEnergy(int32_t energy);
  int32_t SelectedEnergy() const { return selected_; }
  // Where the map and harmonics views get the field map of the results: asked once per record,
  // when such a view is first drawn.
  void SetMapSource(ViewMapSource source);
  // The field map of the results shown, found through the map source when not yet asked for.
  const ViewMap& Map();
  // What the graph shown draws beside the results (its map read when it needs one), for a file
  // drawn like the view.
  GraphExtras Extras();

  // A second record drawn beside the results in the per-energy graphs (File > Compare With...),
  // named by its file in the legends; null for none. Kept when the results change. Repaints.
  void SetCompare(std::shared_ptr<const ResultTables> other, std::string name);
  const ResultTables* Compare() const { return compare_.get(); }
  const std::string& CompareName() const { return compareName_; }
  // The map view draws this difference of the run's map and another map (View > Field Map >
  // Difference to map...) instead of the map; a null grid for none. Dropped with the results.
  // Repaints.
  void SetMapDifference(std::shared_ptr<const FieldGrid> difference, std::string name);
  bool HasMapDifference() const { return difference_ != nullptr; }

 signals:
  // The view's copy of the results has been refreshed (a transfer, New, Open).
  void resultsRefreshed();
  // Emitted after a paint has copied LatestResults into the document.
  void resultsTransferred();
  // A double click with the left button: the user asks a running calculation to stop.
  void stopRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  // After results_ has been refreshed: a new record, no energy marked, its map not yet asked for.
  void ResultsRefreshed();
  // Draws through DrawCollectingMessages; a table failure of a damaged record ends the drawing.
  void DrawGuarded(QPainter& painter, QSize clientSize);
  // Draws with the messages of the graph ("No real values in X array!") collected instead of
  // shown, and shows them afterwards, once per results record and outside of any paint.
  bool DrawCollectingMessages(QPainter& painter, QSize clientSize);

  // Collects the messages raised on the user-interface thread while it is installed; messages of
  // other threads (the worker) go on to the service that was installed before.
  class PaintMessages : public MessageService {
   public:
    void show(const Message& message) override;
    std::thread::id guiThread;
    std::atomic<MessageService*> next{nullptr};
    std::mutex mutex;
    std::vector<Message> collected;
  };

  ResultsHandOver& handOver_;
  ViewDocument* document_ = nullptr;
  ResultTables results_;  // the view's instance; the graph and the report read only this one

  uint64_t resultsGeneration_ = 0;          // counts the refreshes of results_
  uint64_t messagesShownFor_ = UINT64_MAX;  // the generation whose graph messages were shown
  PaintMessages paintMessages_;

  GraphKind graphKind_ = GraphKind::Frequency;  // graph drawn
  int32_t selected_ = -1;                       // energy marked

  ViewMapSource mapSource_;
  ViewMap map_;                   // the field map of results_
  uint64_t record_ = 0;           // counts the records results_ has held
  uint64_t mapFor_ = UINT64_MAX;  // the record whose map map_ is
  GraphCache cache_;              // colour image, thinned orbits, harmonic analysis

  std::shared_ptr<const ResultTables> compare_;  // the compared record; null for none
  std::string compareName_;
  std::shared_ptr<const FieldGrid> difference_;  // the map difference drawn; null for none
  std::string differenceName_;
};

}  // namespace zuba
