// Test main of the desktop program's tests: a QApplication on the offscreen platform (unless
// another is named, also while the tests are listed at build time), with the settings in a
// temporary folder so that the tests never touch the user's recent-file list.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir settings;
  qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  QApplication app(argc, argv);
  app.setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
  app.setApplicationName(QStringLiteral("ZUBA"));
  return RUN_ALL_TESTS();
}
