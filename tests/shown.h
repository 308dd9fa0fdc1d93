// The operations that hand their failures back, with the failures shown as the desktop program and
// the command line show them: the tests see the messages the user sees.
#pragma once

#include <string>
#include <vector>

#include "platform/message.h"
#include "results/report.h"
#include "results/text.h"

namespace zuba::test {

inline ReportWrite SaveReportShown(const ResultTables& results, const std::string& path) {
  std::vector<Failure> failures;
  const ReportWrite written = SaveResultsReportFile(results, path, &failures);
  ShowFailures(failures);
  return written;
}

inline std::string FormatFixedShown(double value, int32_t decimals) {
  std::vector<Failure> failures;
  std::string text = FormatFixed(value, decimals, &failures);
  ShowFailures(failures);
  return text;
}

}  // namespace zuba::test
