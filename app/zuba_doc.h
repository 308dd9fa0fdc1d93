// CZUBADoc: the document of the desktop program. It holds the document's instance of the results,
// its file name and its modified state, and refreshes its view.
#pragma once

#include <QObject>
#include <QString>
#include <string>
#include <vector>

#include "graph/view.h"
#include "results/document.h"
#include "results/hand_over.h"
#include "results/result_tables.h"

namespace zuba {

class CZUBADoc : public QObject, public ViewDocument {
  Q_OBJECT

 public:
  // handOver: the hand-over of the window's runs, whose ResultsAvailable says whether the
  // document's record holds results.
  explicit CZUBADoc(ResultsHandOver& handOver, QObject* parent = nullptr);

  ResultTables& DocumentResults() override { return results_; }
  void SetModifiedFlag() override { SetModified(true); }
  void UpdateAllViews() override;
  // The file name without its folder, or "Untitled" for a new document.
  QString GetTitle() const override;

  void AddView(CZUBAView* view);
  bool IsModified() const { return modified_; }
  void SetModified(bool modified);
  // The full path of the document's file; empty for a new document.
  const QString& PathName() const { return path_; }
  void SetPathName(const QString& path);

  // File > New: empties the record, clears ResultsAvailable, forgets the file name.
  bool OnNewDocument();
  // Takes over what a document file held: the record and the value of ResultsAvailable.
  void TakeLoaded(DocumentLoad loaded, const QString& path);
  // Writes the document file; on success the document takes the path and is unmodified.
  bool OnSaveDocument(const QString& path, std::string& error);

 signals:
  void titleChanged();
  void modifiedChanged(bool modified);

 private:
  ResultsHandOver& handOver_;
  ResultTables results_;
  QString path_;
  bool modified_ = false;
  std::vector<CZUBAView*> views_;
};

}  // namespace zuba
