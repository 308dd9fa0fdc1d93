// CZUBADoc: the document of the desktop program. It holds the document's instance of the results
// and whether it holds results at all, its file name and its modified state, and gives its record
// to its views.
#pragma once

#include <QObject>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "graph/view.h"
#include "platform/outcome.h"
#include "results/document.h"
#include "results/result_tables.h"

namespace zuba {

class CZUBADoc : public QObject {
  Q_OBJECT

 public:
  explicit CZUBADoc(QObject* parent = nullptr);

  ResultTables& DocumentResults() { return results_; }
  const ResultTables& DocumentResults() const { return results_; }
  // The record holds the results of a completed run (stored in the document file).
  bool ResultsAvailable() const { return available_; }
  void SetResultsAvailable(bool available) { available_ = available; }
  void SetModifiedFlag() { SetModified(true); }
  // Gives the record to every view (with its field map when given).
  void UpdateAllViews(const std::optional<ViewMap>& map = std::nullopt);
  // The file name without its folder, or "Untitled" for a new document.
  QString GetTitle() const;

  void AddView(CZUBAView* view);
  bool IsModified() const { return modified_; }
  void SetModified(bool modified);
  // The full path of the document's file; empty for a new document.
  const QString& PathName() const { return path_; }
  void SetPathName(const QString& path);

  // File > New: empties the record, forgets the file name.
  bool OnNewDocument();
  // Takes over what a document file held: the record and whether it holds results.
  void TakeLoaded(DocumentLoad loaded, const QString& path);
  // Takes over the results of a completed run with the map the run read: modified.
  void TakeRunResults(ResultTables results, ViewMap map);
  // Writes the document file; on success the document takes the path and is unmodified. A
  // failure says why.
  Outcome OnSaveDocument(const QString& path);

 signals:
  void titleChanged();
  void modifiedChanged(bool modified);

 private:
  ResultTables results_;
  bool available_ = false;
  QString path_;
  bool modified_ = false;
  std::vector<CZUBAView*> views_;
};

}  // namespace zuba
