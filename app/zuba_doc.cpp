// The document (see zuba_doc.h).
#include "app/zuba_doc.h"

#include <QFile>
#include <QFileInfo>
#include <utility>

namespace zuba {

CZUBADoc::CZUBADoc(QObject* parent) : QObject(parent) {
  results_.reset();
}

void CZUBADoc::UpdateAllViews(const std::optional<ViewMap>& map) {
  for (CZUBAView* view : views_) view->ShowResults(results_, available_, map);
}

QString CZUBADoc::GetTitle() const {
  return path_.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(path_).fileName();
}

void CZUBADoc::AddView(CZUBAView* view) {
  views_.push_back(view);
  view->SetTitleSource([this] { return GetTitle(); });
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
  available_ = false;
  SetModified(false);
  SetPathName(QString());
  return true;
}

void CZUBADoc::TakeLoaded(DocumentLoad loaded, const QString& path) {
  results_ = std::move(loaded.results);
  available_ = loaded.resultsAvailable != 0;
  SetModified(false);
  SetPathName(path);
}

void CZUBADoc::TakeRunResults(ResultTables results, ViewMap map) {
  results_ = std::move(results);
  available_ = true;
  SetModified(true);
  UpdateAllViews(std::move(map));
}

Outcome CZUBADoc::OnSaveDocument(const QString& path) {
  Outcome saved =
      SaveDocumentFile(QFile::encodeName(path).toStdString(), results_, available_ ? 1 : 0);
  if (!saved) return saved;
  SetModified(false);
  SetPathName(path);
  return {};
}

}  // namespace zuba
