// The Map Options dialog (see map_options_dlg.h).
#include "app/map_options_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "calc/maps/map_formats.h"
#include "platform/message.h"

namespace zuba {
namespace {

// The items of a combo box: shown text and the enumeration's value.
template <class E>
void AddItems(QComboBox* box, std::initializer_list<std::pair<const char*, E>> items) {
  for (const auto& [text, value] : items)
    box->addItem(QString::fromUtf8(text), static_cast<int>(value));
}

template <class E>
void Select(QComboBox* box, E value) {
  const int index = box->findData(static_cast<int>(value));
  box->setCurrentIndex(index < 0 ? 0 : index);
}

template <class E>
E Selected(const QComboBox* box) {
  return static_cast<E>(box->currentData().toInt());
}

}  // namespace

CMapOptionsDlg::CMapOptionsDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Map Options"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

  formatBox = new QComboBox(this);
  AddItems<MapFormat>(formatBox,
                      {{"By its content", MapFormat::Auto},
                       {".sdf map (Gs or T)", MapFormat::Sdf},
                       {"Polar map (six header numbers, kG)", MapFormat::Polar},
                       {"Measured records (B and its derivatives, kG)", MapFormat::Records},
                       {"Table (columns R, theta, Bz)", MapFormat::Table},
                       {"Polar mesh (azimuths, radii in cm, kG)", MapFormat::PolarMesh}});
  sectorsBox = new QSpinBox(this);
  sectorsBox->setRange(0, kMaxReplicate);
  sectorsBox->setSpecialValueText(QStringLiteral("Full turn in the file"));
  mirrorBox =
      new QCheckBox(QStringLiteral("Half a sector, mirror-symmetric about its last azimuth"), this);
  negateBox = new QCheckBox(QStringLiteral("Flip the sign of the field (negative ions)"), this);
  reverseBox =
      new QCheckBox(QStringLiteral("Azimuth measured against the direction of motion"), this);
  rUnitBox = new QComboBox(this);
  AddItems<RadiusUnit>(rUnitBox, {{"From the header", RadiusUnit::None},
                                  {"m", RadiusUnit::Metre},
                                  {"mm", RadiusUnit::Millimetre}});
  thetaUnitBox = new QComboBox(this);
  AddItems<AngleUnit>(thetaUnitBox, {{"From the header", AngleUnit::None},
                                     {"degree", AngleUnit::Degree},
                                     {"rad", AngleUnit::Radian}});
  bUnitBox = new QComboBox(this);
  AddItems<FieldUnit>(bUnitBox, {{"From the header", FieldUnit::None},
                                 {"T", FieldUnit::Tesla},
                                 {"Gs", FieldUnit::Gauss},
                                 {"kG", FieldUnit::Kilogauss}});

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Format:"), formatBox);
  form->addRow(QStringLiteral("One sector of N:"), sectorsBox);
  form->addRow(QString(), mirrorBox);
  form->addRow(QString(), negateBox);
  form->addRow(QString(), reverseBox);
  form->addRow(new QLabel(QStringLiteral("Units of a table without a header:"), this));
  form->addRow(QStringLiteral("R:"), rUnitBox);
  form->addRow(QStringLiteral("Theta:"), thetaUnitBox);
  form->addRow(QStringLiteral("Bz:"), bUnitBox);

  auto* buttons = new QDialogButtonBox(this);
  okButton = buttons->addButton(QDialogButtonBox::Ok);
  cancelButton = buttons->addButton(QDialogButtonBox::Cancel);
  okButton->setDefault(true);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(okButton, &QPushButton::clicked, this, &CMapOptionsDlg::OnOK);
  connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void CMapOptionsDlg::SetOptions(const MapReadingOptions& o) {
  Select(formatBox, o.format);
  sectorsBox->setValue(o.replicate);
  mirrorBox->setChecked(o.mirror);
  negateBox->setChecked(o.negate);
  reverseBox->setChecked(o.reverse);
  Select(rUnitBox, o.rUnit);
  Select(thetaUnitBox, o.thetaUnit);
  Select(bUnitBox, o.bUnit);
}

MapReadingOptions CMapOptionsDlg::Options() const {
  MapReadingOptions o;
  o.format = Selected<MapFormat>(formatBox);
  o.replicate = sectorsBox->value();
  o.mirror = mirrorBox->isChecked();
  o.negate = negateBox->isChecked();
  o.reverse = reverseBox->isChecked();
  o.rUnit = Selected<RadiusUnit>(rUnitBox);
  o.thetaUnit = Selected<AngleUnit>(thetaUnitBox);
  o.bUnit = Selected<FieldUnit>(bUnitBox);
  return o;
}

void CMapOptionsDlg::OnOK() {
  if (const Outcome checked = CheckMapReadingOptions(Options()); !checked) {
    Message message = checked.message();
    message.owner = Owner::Dialog;
    ShowMessage(message);
    sectorsBox->setFocus();
    return;
  }
  accept();
}

QString CMapOptionsDlg::Summary(const MapReadingOptions& o) {
  QStringList parts;
  parts << (o.format == MapFormat::Auto ? QStringLiteral("any format")
                                        : QString::fromLatin1(MapFormatName(o.format)));
  if (o.replicate > 0)
    parts << (o.mirror ? QStringLiteral("1/2 of 1/%1") : QStringLiteral("1/%1")).arg(o.replicate);
  if (o.negate) parts << QStringLiteral("-B");
  if (o.reverse) parts << QStringLiteral("reversed");
  return parts.join(QStringLiteral(", "));
}

}  // namespace zuba
