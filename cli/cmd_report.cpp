// zuba-cli report DOC.zub -o OUT.txt: the text report of a saved document, byte for byte as the
// desktop program's report command writes it.
#include <memory>
#include <string>
#include <vector>

#include "cli/command.h"
#include "platform/message.h"
#include "results/document.h"
#include "results/report.h"

namespace zuba::cli {
namespace {

struct ReportOptions {
  std::string document;
  std::string output;
};

int RunReport(const ReportOptions& options) {
  const Result<DocumentLoad> load = LoadDocumentFile(options.document);
  if (!load.ok()) {
    ShowMessage(options.document + ": " + load.message().text, "Error");
    return kExitRefused;
  }
  if (load->resultsAvailable == 0) {
    ShowMessage(options.document + " holds no results to report (no completed calculation)",
                "Error");
    return kExitRefused;
  }
  const ResultTables& r = load->results;
  std::vector<Failure> failures;
  const ReportWrite written = SaveResultsReportFile(r, options.output, &failures);
  ShowFailures(failures);
  switch (written) {
    case ReportWrite::Written:
      return kExitOk;
    case ReportWrite::TablesUnequal:
      ShowMessage(options.document + ": the tables Ek, Rmn, Bmn, Rev, F0 and dReo differ in " +
                      "length (" + std::to_string(r.Ek.size()) + ", " +
                      std::to_string(r.Rmn.size()) + ", " + std::to_string(r.Bmn.size()) + ", " +
                      std::to_string(r.Rev.size()) + ", " + std::to_string(r.F0.size()) + ", " +
                      std::to_string(r.dReo.size()) + "); no report is written",
                  "Error");
      return kExitRefused;
    case ReportWrite::CannotOpen:
      break;  // "Unable to open file for saving!" has been shown
  }
  return kExitRefused;
}

Command SetUp(CLI::App& parent) {
  auto options = std::make_shared<ReportOptions>();
  CLI::App* app = parent.add_subcommand("report", "Write the text report of a document");
  app->add_option("document", options->document, "Document file (*.zub)")->required();
  app->add_option("-o,--output", options->output, "Report file (*.txt)")->required();
  return Command{app, [options] { return RunReport(*options); }};
}

}  // namespace

ZUBA_CLI_COMMAND(SetUp);

}  // namespace zuba::cli
