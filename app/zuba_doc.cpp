// The document (see zuba_doc.h).
#include "app/zuba_doc.h"

#include <QFile>
#include <QFileInfo>

namespace zuba {

CZUBADoc::CZUBADoc(ResultsHandOver& handOver, QObject* parent)
    : QObject(parent), handOver_(handOver) {
  results_.reset();
  handOver_.ResultsAvailable.store(0, std::memory_order_release);
}

void CZUBADoc::UpdateAllViews() {
  for (CZUBAView* view : views_) view->OnUpdate();
}

QString CZUBADoc::GetTitle() const {
  return path_.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(path_).fileName();
}

void CZUBADoc::AddView(CZUBAView* view) {
  views_.push_back(view);
  view->SetDocument(this);
}

void CZUBADoc::SetModified(bool modified) {
  if (modified_ == modified) return;
  modified_ = modified;
  emit modifiedChanged(modified);
}

void CZUBADoc::SetPathName(const QString& path) {
  path_ = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
  emit titleChanged();
}

bool CZUBADoc::OnNewDocument() {
  results_.reset();
  handOver_.ResultsAvailable.store(0, std::memory_order_release);
  SetModified(false);
  SetPathName(QString());
  return true;
}

void CZUBADoc::TakeLoaded(DocumentLoad loaded, const QString& path) {
  results_ = std::move(loaded.results);
  handOver_.ResultsAvailable.store(loaded.resultsAvailable, std::memory_order_release);
  SetModified(false);
  SetPathName(path);
}

bool CZUBADoc::OnSaveDocument(const QString& path, std::string& error) {
  const Outcome saved =
      SaveDocumentFile(QFile::encodeName(path).toStdString(), results_,
                       handOver_.ResultsAvailable.load(std::memory_order_acquire));
  if (!saved.ok()) {
    error = saved.message().text;
    return false;
  }
  SetModified(false);
  SetPathName(path);
  return true;
}

}  // namespace zuba
