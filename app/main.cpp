// zuba, the desktop program.
//   zuba [DOC.zub]
//   zuba --screenshot OUT.png [--dialog mode|input] [DOC.zub]
#include <QCommandLineParser>
#include <cstring>

#include "app/zuba_app.h"

int main(int argc, char** argv) {
  // A picture or the help text needs no display: offscreen unless a platform has been chosen.
  bool headless = false;
  for (int i = 1; i < argc; ++i) {
    for (const char* option : {"--screenshot", "--help", "-h", "--help-all", "--version", "-v"})
      headless |= std::strcmp(argv[i], option) == 0;
  }
  if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }

  zuba::CZUBAApp app(argc, argv);

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("ZUBA 2020: equilibrium orbits of a cyclotron"));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption screenshotOption(
      QStringLiteral("screenshot"),
      QStringLiteral("Render the main window into a PNG file and exit."),
      QStringLiteral("OUT.png"));
  const QCommandLineOption dialogOption(
      QStringLiteral("dialog"),
      QStringLiteral("With --screenshot: render the Mode dialog (mode) or the Input Data dialog "
                     "(input) instead."),
      QStringLiteral("mode|input"));
  parser.addOption(screenshotOption);
  parser.addOption(dialogOption);
  parser.addPositionalArgument(QStringLiteral("document"),
                               QStringLiteral("A ZUBA document (*.zub) to open."),
                               QStringLiteral("[DOC.zub]"));
  parser.process(app);

  const QStringList documents = parser.positionalArguments();
  const QString document = documents.isEmpty() ? QString() : documents.front();

  if (parser.isSet(screenshotOption)) {
    if (!app.InitInstance(document, false, true)) return app.ExitInstance(1);
    return app.ExitInstance(
        app.Screenshot(parser.value(screenshotOption), parser.value(dialogOption)));
  }
  if (parser.isSet(dialogOption)) {
    std::fputs("zuba: --dialog needs --screenshot\n", stderr);
    return 1;
  }
  if (!app.InitInstance(document)) return app.ExitInstance(1);
  return app.ExitInstance(app.exec());
}
