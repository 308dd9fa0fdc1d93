// The comparisons of the desktop program: File > Compare With... draws a second document beside
// the results (in red in the per-energy graphs, dashed in the orbit graph, the legends naming both
// files) and adds the differences to the results table; File > Compare With None removes it;
// View > Field Map > Difference to Map... draws the run's field map minus another map on a
// diverging colour scale, with the orbits. A refusal is a message box of one line.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <string>

class QAction;
class QWidget;

namespace zuba {

class CResultsTable;
class CZUBAView;

class CComparisonCommands : public QObject {
  Q_OBJECT

 public:
  // documentFolder: the folder of the document shown (where the run's map is looked for first).
  CComparisonCommands(CZUBAView& view, CResultsTable& table,
                      std::function<std::string()> documentFolder, QObject* parent = nullptr);

  QAction* compareAct = nullptr;      // File > Compare With...
  QAction* compareNoneAct = nullptr;  // File > Compare With None
  QAction* differenceAct = nullptr;   // View > Field Map > Difference to Map...

  // The file choosers; an empty text when cancelled. Replaceable (tests).
  std::function<QString()> chooseDocument;
  std::function<QString()> chooseMap;

  // Compares with the document at path; false (after a message box) when it is refused.
  bool CompareWith(const QString& path);
  void CompareWithNone();
  // Draws the run's map minus the map at path in the map view; false (after a message box) when
  // refused.
  bool DifferenceTo(const QString& path);
  // The results table of the view's results, with the differences while a comparison is shown.
  void RefreshTable();
  // Enables the commands: a comparison or a difference needs results.
  void UpdateCommands(bool results);

 private:
  CZUBAView& view_;
  CResultsTable& table_;
  std::function<std::string()> documentFolder_;
};

}  // namespace zuba
