// zuba, the desktop program.
//   zuba [DOC.zub]
//   zuba --screenshot OUT.png [--dialog mode|input|isochronise]
//        [--view frequency|isochronism|tunes|map|orbits|harmonics|table] [--select K]
//        [--compare OTHER.zub] [--difference MAP] [DOC.zub]
#include <QCommandLineParser>
#include <cstdio>
#include <cstring>

#include "app/zuba_app.h"

namespace {

// A picture or the help text needs no display: offscreen unless a platform has been chosen.
void ChooseOffscreenWhenHeadless(int argc, char** argv) {
  bool headless = false;
  for (int i = 1; i < argc; ++i) {
    for (const char* option : {"--screenshot", "--help", "-h", "--help-all", "--version", "-v"})
      headless |= std::strcmp(argv[i], option) == 0;
  }
  if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
}

// The options of --screenshot, the picture of the window or of a dialog.
struct PictureOptions {
  QCommandLineOption screenshot{QStringLiteral("screenshot"),
                                QStringLiteral("Render the main window into a PNG file and exit."),
                                QStringLiteral("OUT.png")};
  QCommandLineOption dialog{
      QStringLiteral("dialog"),
      QStringLiteral("With --screenshot: render the Mode dialog (mode), the Input Data dialog "
                     "(input) or the Isochronise dialog (isochronise) instead."),
      QStringLiteral("mode|input|isochronise")};
  QCommandLineOption view{
      QStringLiteral("view"),
      QStringLiteral("With --screenshot: the graph the window shows, or table for the window with "
                     "the results table docked."),
      QStringLiteral("frequency|isochronism|tunes|map|orbits|harmonics|table")};
  QCommandLineOption select{
      QStringLiteral("select"),
      QStringLiteral("With --screenshot: choose row K of the results table (1 the first energy), "
                     "which every graph marks."),
      QStringLiteral("K")};
  QCommandLineOption compare{
      QStringLiteral("compare"),
      QStringLiteral("With --screenshot: draw a second document beside the results, as File > "
                     "Compare With... does."),
      QStringLiteral("OTHER.zub")};
  QCommandLineOption difference{
      QStringLiteral("difference"),
      QStringLiteral("With --screenshot: draw the run's field map minus this map, as View > "
                     "Difference to Map... does."),
      QStringLiteral("MAP")};

  void AddTo(QCommandLineParser& parser) const {
    parser.addOption(screenshot);
    parser.addOption(compare);
    parser.addOption(difference);
    parser.addOption(dialog);
    parser.addOption(view);
    parser.addOption(select);
  }
  // Any option that only --screenshot takes.
  bool AnyPictureDetail(const QCommandLineParser& parser) const {
    return parser.isSet(dialog) || parser.isSet(view) || parser.isSet(select) ||
           parser.isSet(compare) || parser.isSet(difference);
  }
};

// zuba --screenshot: the picture, and the program's exit code.
int RunScreenshot(zuba::CZUBAApp& app, const QCommandLineParser& parser,
                  const PictureOptions& options, const QString& document) {
  // A picture leaves the user's settings (recent files, closure choice) as they are.
  if (!app.UseScratchSettings()) {
    std::fputs("zuba: cannot make a folder for the settings of the picture\n", stderr);
    return 1;
  }
  if (!app.InitInstance(document, false, true)) return app.ExitInstance(1);
  bool number = true;
  const int energy = parser.isSet(options.select) ? parser.value(options.select).toInt(&number) : 0;
  if (!number || energy < 0) {
    std::fputs("zuba: --select takes a row number of the results table\n", stderr);
    return app.ExitInstance(1);
  }
  return app.ExitInstance(app.Screenshot(
      parser.value(options.screenshot), parser.value(options.dialog), parser.value(options.view),
      energy, parser.value(options.compare), parser.value(options.difference)));
}

}  // namespace

int main(int argc, char** argv) {
  ChooseOffscreenWhenHeadless(argc, argv);
  zuba::CZUBAApp app(argc, argv);

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("ZUBA 2020: equilibrium orbits of a cyclotron"));
  parser.addHelpOption();
  parser.addVersionOption();
  const PictureOptions picture;
  picture.AddTo(parser);
  parser.addPositionalArgument(QStringLiteral("document"),
                               QStringLiteral("A ZUBA document (*.zub) to open."),
                               QStringLiteral("[DOC.zub]"));
  parser.process(app);

  const QStringList documents = parser.positionalArguments();
  const QString document = documents.isEmpty() ? QString() : documents.front();
  if (parser.isSet(picture.screenshot)) return RunScreenshot(app, parser, picture, document);
  if (picture.AnyPictureDetail(parser)) {
    std::fputs("zuba: --dialog, --view, --select, --compare and --difference need --screenshot\n",
               stderr);
    return 1;
  }
  if (!app.InitInstance(document)) return app.ExitInstance(1);
  return app.ExitInstance(app.exec());
}
