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
  const ReportSaving written = SaveResultsReportFile(r, options.output);
  ShowFailures(written.leftOut);
  if (written.outcome) return kExitOk;
  // Tables of unequal length name the document; a file that cannot be written shows its own
  // message ("Unable to open file for saving!").
  if (written.outcome.failure().subject == "tables")
    ShowMessage(options.document + ": " + written.outcome.message().text, "Error");
  else
    ShowMessage(written.outcome.message());
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
