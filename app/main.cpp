// zuba, the desktop program.
//   zuba [DOC.zub]
//   zuba --screenshot OUT.png [--dialog mode|input|isochronise]
//        [--view frequency|isochronism|tunes|map|orbits|harmonics|table] [--select K]
//        [--compare OTHER.zub] [--difference MAP] [DOC.zub]
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
      QStringLiteral("With --screenshot: render the Mode dialog (mode), the Input Data dialog "
                     "(input) or the Isochronise dialog (isochronise) instead."),
      QStringLiteral("mode|input|isochronise"));
  const QCommandLineOption viewOption(
      QStringLiteral("view"),
      QStringLiteral("With --screenshot: the graph the window shows, or table for the window with "
                     "the results table docked."),
      QStringLiteral("frequency|isochronism|tunes|map|orbits|harmonics|table"));
  const QCommandLineOption selectOption(
      QStringLiteral("select"),
      QStringLiteral("With --screenshot: choose row K of the results table (1 the first energy), "
                     "which every graph marks."),
      QStringLiteral("K"));
  const QCommandLineOption compareOption(
      QStringLiteral("compare"),
      QStringLiteral("With --screenshot: draw a second document beside the results, as File > "
                     "Compare With... does."),
      QStringLiteral("OTHER.zub"));
  const QCommandLineOption differenceOption(
      QStringLiteral("difference"),
      QStringLiteral("With --screenshot: draw the run's field map minus this map, as View > "
                     "Difference to Map... does."),
      QStringLiteral("MAP"));
  parser.addOption(screenshotOption);
  parser.addOption(compareOption);
  parser.addOption(differenceOption);
  parser.addOption(dialogOption);
  parser.addOption(viewOption);
  parser.addOption(selectOption);
  parser.addPositionalArgument(QStringLiteral("document"),
                               QStringLiteral("A ZUBA document (*.zub) to open."),
                               QStringLiteral("[DOC.zub]"));
  parser.process(app);

  const QStringList documents = parser.positionalArguments();
  const QString document = documents.isEmpty() ? QString() : documents.front();

  if (parser.isSet(screenshotOption)) {
    // A picture leaves the user's settings (recent files, closure choice) as they are.
    if (!app.UseScratchSettings()) {
      std::fputs("zuba: cannot make a folder for the settings of the picture\n", stderr);
      return 1;
    }
    if (!app.InitInstance(document, false, true)) return app.ExitInstance(1);
    bool number = true;
    const int energy = parser.isSet(selectOption) ? parser.value(selectOption).toInt(&number) : 0;
    if (!number || energy < 0) {
      std::fputs("zuba: --select takes a row number of the results table\n", stderr);
      return app.ExitInstance(1);
    }
    return app.ExitInstance(app.Screenshot(
        parser.value(screenshotOption), parser.value(dialogOption), parser.value(viewOption),
        energy, parser.value(compareOption), parser.value(differenceOption)));
  }
  if (parser.isSet(dialogOption) || parser.isSet(viewOption) || parser.isSet(selectOption) ||
      parser.isSet(compareOption) || parser.isSet(differenceOption)) {
    std::fputs("zuba: --dialog, --view, --select, --compare and --difference need --screenshot\n",
               stderr);
    return 1;
  }
  if (!app.InitInstance(document)) return app.ExitInstance(1);
  return app.ExitInstance(app.exec());
}
