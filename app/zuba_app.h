// CZUBAApp: the application object of the desktop program: settings under the organisation
// "Local AppWizard-Generated Applications" and the application "ZUBA" (with the list of the four
// most recently used files), the message boxes for the whole process, the main window, and the
// document named on the command line.
#pragma once

#include <QApplication>
#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "app/main_frame.h"
#include "app/qt_services.h"

namespace zuba {

class CZUBAApp : public QApplication {
  Q_OBJECT

 public:
  CZUBAApp(int& argc, char** argv);
  ~CZUBAApp() override;

  // Start-up: the message service (message boxes, or stderr with consoleMessages), the main
  // window, the document of the command line (when it cannot be opened the message is shown and
  // start-up fails), then the window is shown when show is set. False ends the program.
  bool InitInstance(const QString& documentPath, bool show = true, bool consoleMessages = false);
  // Shut-down: the main window goes (after its calculation ended), the message service is
  // restored. Returns exitCode.
  int ExitInstance(int exitCode);

  CMainFrame* MainFrame() const { return frame_.get(); }

  // Points the settings at an empty folder of their own for the rest of the process: a picture
  // made with --screenshot neither reads nor changes the user's recent files and choices. Call
  // before InitInstance. False when no such folder can be made.
  bool UseScratchSettings();

  // Renders the main window, or with dialog "mode" / "input" the Mode dialog / the Input Data
  // dialog showing the "TVK-310: p" preset, into a PNG file. view names the graph the window
  // shows (frequency, isochronism, tunes, map, orbits, harmonics) or "table": the window with the
  // results table docked; energy, when positive, the row of the results table chosen (1 the first
  // energy), which every graph marks; compare, when not empty, a second document drawn beside the
  // results (File > Compare With...); difference, when not empty, a map file whose difference to
  // the run's map the map view draws. Returns a process exit code.
  int Screenshot(const QString& outPath, const QString& dialog, const QString& view = QString(),
                 int energy = 0, const QString& compare = QString(),
                 const QString& difference = QString());

 private:
  QtMessageService messageBoxes_;
  ConsoleMessageService console_;
  MessageService* previousService_ = nullptr;
  bool serviceInstalled_ = false;
  std::unique_ptr<CMainFrame> frame_;
  std::unique_ptr<QTemporaryDir> scratchSettings_;
};

}  // namespace zuba
