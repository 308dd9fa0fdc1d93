// The workbench views with the document of a full "TVK-310: p" run (101 energies, every orbit's
// samples) open in the main window at 1200 x 900, offscreen: a repaint of each view with what it
// keeps between paints already built, and the first draw of the map view, which reads the field map
// again (with the check of its stamp), builds the colour image and thins the orbits. Wall time is
// what the user waits for. Targets: repaint of the map view under 50 ms, its first draw under
// 300 ms.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "app/main_frame.h"
#include "calc/run/driver.h"
#include "calc/run/run_map.h"
#include "calc/run/run_quantities.h"
#include "platform/progress.h"
#include "platform/threads.h"
#include "results/document.h"

namespace zuba {

// The window with the document of the run, made once for all benchmarks.
struct Workbench {
  std::string document;
  std::unique_ptr<CMainFrame> frame;
};

std::unique_ptr<Workbench> made;  // until main() ends, before the application object goes

Workbench& TheWorkbench() {
  if (!made)
    made = std::make_unique<Workbench>([] {
      Workbench w;
      RunParameters p;
      ApplyPreset(kModeTvk310, p);
      p.Path = ZUBA_EXAMPLES_DIR "/tvk310-p.sdf";
      const Result<SharedRun> prepared = PrepareCalculation(p);
      if (!prepared) {
        std::fprintf(stderr, "view_bench: %s\n", prepared.message().text.c_str());
        std::exit(1);
      }
      WorkerOptions options;
      options.threads = HardwareThreads();
      NullProgress progress;
      const CalculationOutput output = RunCalculation(**prepared, options, progress);
      if (output.outcome != WorkerOutcome::Completed) std::exit(1);
      w.document = (std::filesystem::temp_directory_path() /
                    ("zuba_view_bench_" + std::to_string(::getpid()) + ".zub"))
                       .string();
      if (!SaveDocumentFile(w.document, output.results, 1)) std::exit(1);
      w.frame = std::make_unique<CMainFrame>();
      w.frame->resize(1200, 900);
      w.frame->show();
      for (int i = 0; i < 200 && !(w.frame->windowHandle() && w.frame->windowHandle()->isExposed());
           ++i)
        QCoreApplication::processEvents();
      if (!w.frame->OpenDocumentFile(QString::fromStdString(w.document))) std::exit(1);
      QCoreApplication::processEvents();
      return w;
    }());
  return *made;
}

// The same map source as the window's: drops what the view keeps of the map.
void ForgetTheMap(Workbench& w) {
  const std::string folder =
      QFileInfo(QString::fromStdString(w.document)).absolutePath().toStdString();
  w.frame->View().SetMapSource([folder](const ResultTables& results) {
    RunMap map = LoadRunMap(results, folder);
    return ViewMap{std::move(map.grid), std::move(map.note)};
  });
}

void BM_Repaint(benchmark::State& state) {
  Workbench& w = TheWorkbench();
  const GraphKind kind = kGraphKinds[state.range(0)];
  w.frame->ShowGraph(kind);
  w.frame->View().repaint();  // builds what the view keeps
  for (auto _ : state) w.frame->View().repaint();
  state.SetLabel(std::string(GraphKindName(kind)) + " view, " +
                 std::to_string(w.frame->View().width()) + "x" +
                 std::to_string(w.frame->View().height()));
}
// Every view but the tune diagram, which a run of the default closure does not have.
BENCHMARK(BM_Repaint)
    ->Arg(0)
    ->Arg(1)
    ->Arg(3)
    ->Arg(4)
    ->Arg(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0);

void BM_MapFirstDraw(benchmark::State& state) {
  Workbench& w = TheWorkbench();
  w.frame->ShowGraph(GraphKind::Map);
  for (auto _ : state) {
    state.PauseTiming();
    ForgetTheMap(w);
    state.ResumeTiming();
    w.frame->View().repaint();
  }
  if (!w.frame->View().Map().grid) state.SkipWithError("the map was not drawn");
  state.SetLabel("map view: read and check the map, colour image, thinned orbits, paint");
}
BENCHMARK(BM_MapFirstDraw)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace zuba

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // Settings (the recent files of the document opened) in a folder of their own.
  QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (zuba::made) {
    zuba::made->frame.reset();
    std::filesystem::remove(zuba::made->document);
    zuba::made.reset();
  }
  return 0;
}
