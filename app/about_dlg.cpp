// The About box, laid out in dialog units: 170 x 62, the application icon at the upper left, the
// version text beside it, OK at the lower right.
#include "app/about_dlg.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "app/dialog_units.h"

namespace zuba {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About ZUBA 2020"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  const DialogUnits du(font());
  setFixedSize(du.Size(170, 62));

  auto* icon = new QLabel(this);
  icon->setPixmap(QIcon(QStringLiteral(":/icons/zuba.svg")).pixmap(32, 32));
  icon->setGeometry(QRect(du.X(14), du.Y(14), 32, 32));

  auto* text = new QLabel(QStringLiteral("ZUBA 2020, Version 1.0"), this);
  text->setGeometry(du.Rect(42, 14, 114, 8).adjusted(0, 0, 0, 4));

  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setGeometry(du.Rect(113, 41, 50, 14));
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace zuba
