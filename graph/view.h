// CZUBAView: the results view of the desktop program. It draws the results it is given (the graph
// of the particle rotation frequency F0 against the mean orbit radius Rmn, the isochronism error,
// the tune diagram, the map, the orbit radius or the field harmonics), prints them, and shows once
// per record what a graph could not draw. It never takes results from anywhere itself: the document
// gives it its record (and a run its map). The commands that start and stop runs live with the
// application (app/), which listens to stopRequested().
#pragma once

#include <QSize>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "graph/closure_plot.h"
#include "graph/graph_extras.h"
#include "results/result_tables.h"

class QPainter;
class QPrinter;

namespace zuba {

// The title of the document shown, for the header of a printed page.
using ViewTitle = std::function<QString()>;

// The field map of the results shown, for the map and the harmonics views: the grid (null when
// there is none to draw) and one line about it.
struct ViewMap {
  std::shared_ptr<const FieldGrid> grid;
  std::string note;
};
// Finds the field map of a record whose map was not given with it (a document opened from a file).
using ViewMapSource = std::function<ViewMap(const ResultTables& results)>;

class CZUBAView : public QWidget {
  Q_OBJECT

 public:
  explicit CZUBAView(QWidget* parent = nullptr);

  void SetTitleSource(ViewTitle title) { title_ = std::move(title); }

  // The record to draw from now on, and whether it holds results (a new document does not); map,
  // when given, is its field map (a run's, as the run read it). A new record clears the energy
  // marked and the map (found through the map source, when a view that needs it is shown: never in
  // a paint). Repaints.
  void ShowResults(const ResultTables& results, bool available,
                   std::optional<ViewMap> map = std::nullopt);
  // The one drawing routine of screen, printer and preview: the graph laid out in a client area
  // of clientSize logical pixels; nothing without results.
  GraphDrawing OnDraw(QPainter& painter, QSize clientSize);

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
  // unless set. Finds the map when the graph needs it. Repaints.
  void SetGraphKind(GraphKind kind);
  GraphKind GetGraphKind() const { return graphKind_; }

  const ResultTables& ViewResults() const { return results_; }
  bool ResultsAvailable() const { return available_; }

  // The energy marked in every graph (a row chosen in the results table); -1 for none. A new
  // record clears it. Repaints.
  void SetSelectedEnergy(int32_t energy);
  int32_t SelectedEnergy() const { return selected_; }
  // Where the map and harmonics views get the field map of a record that came without one.
  void SetMapSource(ViewMapSource source);
  // The field map of the results shown: found through the map source when not yet asked for.
  const ViewMap& Map();
  // What the graph shown draws beside the results, its map found when it needs one (for a file
  // drawn like the view; not in a paint).
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
  // The view's record has been replaced (a run's results, New, Open).
  void resultsRefreshed();
  // A double click with the left button: the user asks a running calculation to stop.
  void stopRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  // What the graph draws beside the results, with the map as it is now.
  GraphExtras ExtrasAsTheyAre();
  // Draws; shows the drawing's notes once per record and graph, after the paint. A table failure
  // of a damaged record ends the drawing with one message.
  void DrawGuarded(QPainter& painter, QSize clientSize);
  // Shows messages after the paint, unless this record's and graph's have been shown.
  void ShowOnceAfterPaint(std::vector<Message> messages);

  ViewTitle title_;
  ResultTables results_;  // the record drawn; the graph and the report read only this one
  bool available_ = false;

  uint64_t resultsGeneration_ = 0;          // counts the records and graph kinds shown
  uint64_t messagesShownFor_ = UINT64_MAX;  // the generation whose notes were shown

  GraphKind graphKind_ = GraphKind::Frequency;  // graph drawn
  int32_t selected_ = -1;                       // energy marked

  ViewMapSource mapSource_;
  ViewMap map_;            // the field map of results_
  bool mapKnown_ = false;  // map_ was given or has been asked for
  GraphCache cache_;       // colour image, thinned orbits, harmonic analysis

  std::shared_ptr<const ResultTables> compare_;  // the compared record; null for none
  std::string compareName_;
  std::shared_ptr<const FieldGrid> difference_;  // the map difference drawn; null for none
  std::string differenceName_;
};

}  // namespace zuba
