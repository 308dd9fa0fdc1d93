// The comparisons of the desktop program (see comparison_commands.h).
#include "app/comparison_commands.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <memory>

#include "app/results_table.h"
#include "calc/run/run_map.h"
#include "graph/view.h"
#include "platform/message.h"
#include "results/document.h"

namespace zuba {

CComparisonCommands::CComparisonCommands(CZUBAView& view, CResultsTable& table,
                                         std::function<std::string()> documentFolder,
                                         QObject* parent)
    : QObject(parent), view_(view), table_(table), documentFolder_(std::move(documentFolder)) {
  compareAct = new QAction(tr("Co&mpare With..."), this);
  compareAct->setObjectName(QStringLiteral("ID_FILE_COMPARE"));
  compareAct->setStatusTip(
      tr("Draw a second document beside the results and show the differences in the table"));
  compareNoneAct = new QAction(tr("Compare &With None"), this);
  compareNoneAct->setObjectName(QStringLiteral("ID_FILE_COMPARE_NONE"));
  compareNoneAct->setStatusTip(tr("Remove the compared document"));
  differenceAct = new QAction(tr("&Difference to Map..."), this);
  differenceAct->setObjectName(QStringLiteral("ID_VIEW_MAP_DIFFERENCE"));
  differenceAct->setStatusTip(
      tr("Show the run's field map minus another map, with the closed orbits"));

  chooseDocument = [] {
    return QFileDialog::getOpenFileName(nullptr, QStringLiteral("Compare With"), QString(),
                                        QStringLiteral("ZUBA Files (*.zub);;All Files (*)"));
  };
  chooseMap = [] {
    return QFileDialog::getOpenFileName(
        nullptr, QStringLiteral("Difference to Map"), QString(),
        QStringLiteral("Field Maps (*.sdf *.txt *.dat *.map *.rec *.csv *.tsv *.table);;"
                       "All Files (*)"));
  };
  connect(compareAct, &QAction::triggered, this, [this] {
    const QString path = chooseDocument();
    if (!path.isEmpty()) CompareWith(path);
  });
  connect(compareNoneAct, &QAction::triggered, this, &CComparisonCommands::CompareWithNone);
  connect(differenceAct, &QAction::triggered, this, [this] {
    const QString path = chooseMap();
    if (!path.isEmpty()) DifferenceTo(path);
  });
}

bool CComparisonCommands::CompareWith(const QString& path) {
  const std::string file = QFile::encodeName(path).toStdString();
  Result<DocumentLoad> load = LoadDocumentFile(file);
  if (!load) {
    ShowMessage(file + ": " + load.message().text, "Error", Icon::Error, Owner::View);
    return false;
  }
  if (load->resultsAvailable == 0) {
    ShowMessage(file + " holds no results to compare with (no completed calculation)", "Error",
                Icon::Error, Owner::View);
    return false;
  }
  view_.SetCompare(std::make_shared<const ResultTables>(std::move(load->results)),
                   QFileInfo(path).fileName().toStdString());
  RefreshTable();
  return true;
}

void CComparisonCommands::CompareWithNone() {
  view_.SetCompare(nullptr, {});
  RefreshTable();
}

bool CComparisonCommands::DifferenceTo(const QString& path) {
  Result<RunMapDifference> difference =
      DifferenceToRunMap(view_.ViewResults(), documentFolder_ ? documentFolder_() : std::string(),
                         QFile::encodeName(path).toStdString());
  if (!difference) {
    ShowMessage(difference.message().text, "Error", Icon::Error, Owner::View);
    return false;
  }
  view_.SetMapDifference(difference->grid, difference->name);
  view_.SetGraphKind(GraphKind::Map);
  return true;
}

void CComparisonCommands::RefreshTable() {
  table_.SetResults(view_.ViewResults(), view_.Compare());
}

void CComparisonCommands::UpdateCommands(bool results) {
  compareAct->setEnabled(results);
  compareNoneAct->setEnabled(view_.Compare() != nullptr);
  differenceAct->setEnabled(results);
}

}  // namespace zuba
