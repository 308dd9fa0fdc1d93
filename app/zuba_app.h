// CZUBAApp: the application object of the desktop program: settings under the organisation
// "Local AppWizard-Generated Applications" and the application "ZUBA" (with the list of the four
// most recently used files), the message boxes for the whole process, the main window, and the
// document named on the command line.
#pragma once

#include <QApplication>
#include <QString>
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

  // Renders the main window, or with dialog "mode" / "input" the Mode dialog / the Input Data
  // dialog showing the "TVK-310: p" preset, into a PNG file. Returns a process exit code.
  int Screenshot(const QString& outPath, const QString& dialog);

 private:
  QtMessageService messageBoxes_;
  ConsoleMessageService console_;
  MessageService* previousService_ = nullptr;
  bool serviceInstalled_ = false;
  std::unique_ptr<CMainFrame> frame_;
};

}  // namespace zuba
