// zuba-cli info DOC.zub [--json]: what a document holds: the results flag, the length of every
// table, the run description (and how the run read its map, when not as a plain .sdf map), the
// closure (with a precise run's tolerance) and the ranges of energy, mean radius and rotation
// frequency.
#include <charconv>
#include <cmath>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>

#include "calc/orbits/precise_orbit.h"
#include "cli/command.h"
#include "cli/run_description_json.h"
#include "numerics/constants.h"
#include "numerics/units.h"
#include "platform/message.h"
#include "platform/numbers.h"
#include "results/document.h"
#include "results/map_reading.h"
#include "results/run_fields.h"

namespace zuba::cli {
namespace {

using Json = nlohmann::ordered_json;

struct InfoOptions {
  std::string document;
  bool json = false;
};

// Smallest and largest finite value of the table after scaling; nothing when it has none.
std::optional<std::pair<double, double>> Range(const RealTable& table, double (*scale)(double)) {
  std::optional<std::pair<double, double>> range;
  for (double raw : table.values()) {
    const double v = scale(raw);
    if (!std::isfinite(v)) continue;
    if (!range) {
      range = std::pair{v, v};
    } else {
      range->first = std::min(range->first, v);
      range->second = std::max(range->second, v);
    }
  }
  return range;
}

double Same(double v) {
  return v;
}
// The shortest text that reads back as the same number.
std::string Number(double v) {
  return FormatNumber(v);
}

Json RangeJson(const std::optional<std::pair<double, double>>& range) {
  if (!range) return nullptr;
  return Json::array({range->first, range->second});
}

bool Precise(const ResultTables& r) {
  return r.closure.mode == static_cast<int32_t>(ClosureMode::Precise);
}

// The closure in words: "standard", or "precise, tolerance T" (T unknown in a document written
// before documents kept it).
std::string ClosureText(const ResultTables& r) {
  if (!Precise(r)) return std::string(ClosureModeName(ClosureMode::Standard));
  const double tolerance = r.closure.tolerance;
  return std::string(ClosureModeName(ClosureMode::Precise)) + ", tolerance " +
         (tolerance > 0 ? Number(tolerance)
                        : "unknown (the document was written before it was kept)");
}

std::string RangeText(const std::optional<std::pair<double, double>>& range, const char* unit) {
  if (!range) return "none";
  return Number(range->first) + " .. " + Number(range->second) + " " + unit;
}

int RunInfo(const InfoOptions& options) {
  const Result<DocumentLoad> load = LoadDocumentFile(options.document);
  if (!load.ok()) {
    ShowMessage(options.document + ": " + load.message().text, "Error");
    return kExitRefused;
  }
  const ResultTables& r = load->results;
  const RunParameters& run = r.run;
  const auto ekRange = Range(r.Ek, JoulesToMeV);
  const auto rmnRange = Range(r.Rmn, Same);
  const auto f0Range = Range(r.F0, Same);

  if (options.json) {
    Json out;
    out["results_available"] = load->resultsAvailable;
    Json counts = Json::object();
    ForEachTable(r,
                 [&counts](const char* name, const auto& table) { counts[name] = table.size(); });
    out["counts"] = counts;
    out["run"] = RunDescriptionJson(run);
    // A precise run's tolerance; null where the document does not know it.
    out["closure"] =
        std::string(ClosureModeName(Precise(r) ? ClosureMode::Precise : ClosureMode::Standard));
    if (Precise(r))
      out["tolerance"] = r.closure.tolerance > 0 ? Json(r.closure.tolerance) : Json(nullptr);
    out["ek_mev_range"] = RangeJson(ekRange);
    out["rmn_m_range"] = RangeJson(rmnRange);
    out["f0_hz_range"] = RangeJson(f0Range);
    // How the run read its map, when not as a plain .sdf map.
    if (const MapReadingOptions& m = r.mapReading; !m.IsDefault()) {
      out["map_reading"] = {{"format", MapFormatName(m.format)},
                            {"replicate", m.replicate},
                            {"mirror", m.mirror},
                            {"negate", m.negate},
                            {"reverse", m.reverse},
                            {"r_unit", RadiusUnitName(m.rUnit)},
                            {"theta_unit", AngleUnitName(m.thetaUnit)},
                            {"b_unit", FieldUnitName(m.bUnit)}};
    }
    // Texts of a document are 8-bit; bytes that are not UTF-8 are shown as U+FFFD.
    std::cout << out.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
    return kExitOk;
  }

  std::cout << "Document: " << options.document << "\n"
            << "Results available: " << load->resultsAvailable << "\n"
            << "Run description:\n";
  for (const RunField& field : kRunFields) {
    std::cout << "  " << field.name << ": " << RunFieldText(field, run);
    if (*field.unit) std::cout << " " << field.unit;
    if (field.member.integer == &RunParameters::ChargeSign)
      std::cout << (run.ChargeSign == 0 ? " (positive)" : "")
                << (run.ChargeSign == 1 ? " (negative)" : "");
    std::cout << "\n";
  }
  if (!r.mapReading.IsDefault())
    std::cout << "Map reading: " << DescribeMapReading(r.mapReading) << "\n";
  std::cout << "Closure: " << ClosureText(r) << "\n";
  std::cout << "Table lengths:\n";
  ForEachTable(r, [](const char* name, const auto& table) {
    std::cout << "  " << name << ": " << table.size() << "\n";
  });
  std::cout << "Energy range: " << RangeText(ekRange, "MeV") << "\n"
            << "Mean radius range: " << RangeText(rmnRange, "m") << "\n"
            << "Rotation frequency range: " << RangeText(f0Range, "Hz") << "\n";
  const int64_t n = r.Ek.size();
  if (r.Rmn.size() != n || r.Bmn.size() != n || r.Rev.size() != n || r.F0.size() != n ||
      r.dReo.size() != n) {
    std::cout << "Note: the per-energy tables differ in length; no report can be written.\n";
  }
  return kExitOk;
}

Command SetUp(CLI::App& parent) {
  auto options = std::make_shared<InfoOptions>();
  CLI::App* app = parent.add_subcommand("info", "Show what a document holds");
  app->add_option("document", options->document, "Document file (*.zub)")->required();
  app->add_flag("--json", options->json, "Print JSON instead of text");
  return Command{app, [options] { return RunInfo(*options); }};
}

}  // namespace

ZUBA_CLI_COMMAND(SetUp);

}  // namespace zuba::cli
