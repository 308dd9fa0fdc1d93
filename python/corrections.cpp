// Corrections in Python: the isochronous mean field of a map and the trim-coil fit, through the
// searches zuba-cli isochronise and trim-fit run, on the prepared run of the map, stoppable by
// Ctrl+C; the corrected map as zuba-cli writes it (-o).
#include <pybind11/stl.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "calc/corrections/isochronise.h"
#include "calc/maps/coil_table.h"
#include "calc/maps/map_formats.h"
#include "calc/run/prepared_run.h"
#include "numerics/constants.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "python/binding.h"
#include "python/maps.h"
#include "python/runs.h"
#include "results/text.h"

namespace zuba::python {
namespace {

// What a search gives back, with its corrected map as zuba-cli writes it.
struct CorrectionResult {
  py::dict members;  // the attributes, by name
};

double NanFor(double value) {
  return value == kNoValue ? std::numeric_limits<double>::quiet_NaN() : value;
}

// The progress of a search: the iterations made and the worst |F0 H / Frf - 1| they left.
struct SearchProgress {
  std::atomic<int> iteration{0};
  std::atomic<double> worst{0};
  int reported = 0;

  IterationDone Sink() {
    return [this](int i, double w) {
      worst.store(w);
      iteration.store(i);
    };
  }
  std::function<void()> Tick(const py::object& progress) {
    return [this, progress] {
      const int i = iteration.load();
      if (progress.is_none() || i == reported) return;
      reported = i;
      progress(i, worst.load());
    };
  }
};

// What both searches report, as zuba-cli's JSON has it, with the tolerance their orbits were
// closed to.
void AddOutcome(py::dict& out, const PreparedRun& run, const CorrectionOutcome& c,
                double tolerance) {
  out["isochronism_before"] = c.isochronismBefore;
  out["isochronism_after"] = c.isochronismAfter;
  out["phase_deg_before"] = c.phaseDegBefore;
  out["phase_deg_after"] = c.phaseDegAfter;
  out["iterations"] = c.iterations;
  out["excluded_energies"] = CopyArray(c.excludedEnergiesMeV);
  out["converged"] = c.converged();
  out["target"] = c.target;
  out["termination"] = TerminationName(c.termination);
  std::vector<double> ek, before, after, excluded;
  for (size_t i = 0; i < c.errorBefore.size(); ++i) {
    ek.push_back(run.Ek[i] / (1e6 * kElementaryCharge));
    before.push_back(NanFor(c.errorBefore[i]));
    after.push_back(NanFor(c.errorAfter[i]));
    excluded.push_back(c.excluded[i] ? 1.0 : 0.0);
  }
  py::dict residuals;
  residuals["Ek_MeV"] = CopyArray(ek);
  residuals["isochronism_before"] = CopyArray(before);
  residuals["isochronism_after"] = CopyArray(after);
  residuals["excluded"] = CopyArray(excluded).attr("astype")("bool");
  out["residuals"] = residuals;
  out["lost_in_iteration"] = CopyArray(c.lostInIterationMeV);
  out["tolerance"] = tolerance;
}

// The corrected map as zuba-cli writes it with -o (values to 1e-5 T), its text and the map read
// back from that text.
void AddCorrectedMap(py::dict& out, const PreparedRun& run, std::span<const double> deltaB) {
  const Result<SdfConversion> sdf = CorrectedMapSdf(run, deltaB);
  if (!sdf) Raise("MapError", "corrected map", sdf.outcome());
  Result<FieldMap> map = ParseMap(sdf->text, "corrected map", MapReadingOptions{});
  if (!map) Raise("MapError", map.outcome());
  out["corrected_map"] = MapOf(std::move(*map), std::nullopt, MapReadingOptions{}, FileStamp{});
  out["_sdf"] = py::bytes(sdf->text);
}

py::dict IsochronisePy(const MapHandle& map, const ParametersHandle& p, const py::object& gain,
                       const py::object& threads, const py::object& toleranceArg,
                       const py::object& progress) {
  IsochroniseOptions options;
  options.gainPerTurnMeV = GainOf(gain, p);
  const int threadCount = ThreadsOf(threads);
  const double tolerance = ToleranceOf(toleranceArg, p);
  const SharedRun run = Prepared(map, p);
  SearchProgress searched;
  options.iterationDone = searched.Sink();
  const std::function<Result<MeanFieldCorrection>(const StopToken&)> job =
      [&](const StopToken& stop) {
        return FindIsochronousCorrection(
            *run, PreciseOrbitCloser(run, threadCount, stop, tolerance), options);
      };
  const Result<MeanFieldCorrection> found = RunBlocking(job, searched.Tick(progress));
  if (!found) Raise("CalculationError", found.outcome());
  const MeanFieldCorrection& c = *found;
  py::dict out;
  out["r_m"] = CopyArray(c.radii);
  out["delta_b_t"] = CopyArray(c.deltaB);
  AddOutcome(out, *run, c, tolerance);
  out["knots_m"] = CopyArray(c.knots);
  out["span_m"] = py::make_tuple(c.spanLow, c.spanHigh);
  const CorrectionShape shape = ShapeOf(c);
  out["largest_delta_b_t"] = shape.largest;
  out["total_variation_t"] = shape.totalVariation;
  out["range_t"] = shape.range;
  out["warnings"] = CorrectionWarnings(*run, c);
  AddCorrectedMap(out, *run, c.deltaB);
  return out;
}

// A coil table from arrays: its text as a coil file holds it (17 significant digits, exact), read
// with the same refusals.
TrimCoils CoilsOfArrays(const py::handle& r, const py::dict& profiles) {
  const std::vector<double> radii = DoublesOf(r, "r_m");
  std::vector<std::string> names;
  std::vector<std::vector<double>> columns;
  for (const auto& [name, values] : profiles) {
    names.push_back(py::str(name).cast<std::string>());
    columns.push_back(DoublesOf(values, "coils"));
    if (columns.back().size() != radii.size())
      throw py::value_error("coils[\"" + names.back() +
                            "\"]: " + std::to_string(columns.back().size()) + " values for " +
                            std::to_string(radii.size()) + " radii");
  }
  std::string text = "r_m";
  for (const std::string& name : names) text.append(1, '\t').append(name);
  text += '\n';
  for (size_t i = 0; i < radii.size(); ++i) {
    text += FormatNumber(radii[i], Significant(17));
    for (const std::vector<double>& column : columns)
      text.append(1, '\t').append(FormatNumber(column[i], Significant(17)));
    text += '\n';
  }
  Result<TrimCoils> coils = TrimCoils::Parse(text, "CoilTable");
  if (!coils) Raise("MapError", coils.outcome());
  return std::move(*coils);
}

TrimCoils CoilsOf(const py::object& coils) {
  if (py::isinstance<TrimCoils>(coils)) return coils.cast<TrimCoils>();
  if (!py::isinstance<py::str>(coils))
    throw py::type_error("coils: a coil-table path or a zuba.CoilTable");
  Result<TrimCoils> read = TrimCoils::Read(coils.cast<std::string>());
  if (!read) Raise("MapError", read.outcome());
  return std::move(*read);
}

// Limits per coil: None, a number for every coil, or {name: A}.
std::vector<double> LimitsOf(const TrimCoils& coils, const py::object& limit) {
  std::vector<double> limits(static_cast<size_t>(coils.Count()),
                             std::numeric_limits<double>::infinity());
  auto amperes = [](const py::handle& value, const std::string& what) {
    if (!py::isinstance<py::float_>(value) && !py::isinstance<py::int_>(value))
      throw py::type_error("limit" + what + ": a current in A");
    const double a = value.cast<double>();
    if (!(a >= 0)) throw py::value_error("limit" + what + ": a current of 0 A or more");
    return a;
  };
  if (limit.is_none()) return limits;
  if (py::isinstance<py::dict>(limit)) {
    for (const auto& [key, value] : limit.cast<py::dict>()) {
      const std::string name = py::str(key).cast<std::string>();
      int coil = -1;
      for (int c = 0; c < coils.Count(); ++c)
        if (coils.Name(c) == name) coil = c;
      if (coil < 0) throw py::value_error("limit: no coil named \"" + name + "\"");
      limits[static_cast<size_t>(coil)] = amperes(value, "[\"" + name + "\"]");
    }
    return limits;
  }
  const double a = amperes(limit, "");
  for (double& l : limits) l = a;
  return limits;
}

EnergyRange RangeOf(const py::handle& range, const char* argument) {
  try {
    const auto pair = range.cast<std::pair<double, double>>();
    return {pair.first, pair.second};
  } catch (const py::cast_error&) {
    throw py::type_error(std::string(argument) + ": ranges (lo_mev, hi_mev) of two numbers");
  }
}

py::dict TrimFitPy(const MapHandle& map, const ParametersHandle& p, const py::object& coilsArg,
                   const py::object& limit, const std::string& target, const py::object& gain,
                   const py::object& threads, const py::object& toleranceArg,
                   const py::object& exclude, const py::object& weights,
                   const py::object& progress) {
  const TrimCoils coils = CoilsOf(coilsArg);
  TrimFitOptions options;
  options.limits = LimitsOf(coils, limit);
  if (target != "isochronism" && target != "phase")
    throw py::value_error("target: \"" + target + "\" is none of isochronism, phase");
  options.target = target == "phase" ? TrimTarget::Phase : TrimTarget::Isochronism;
  options.gainPerTurnMeV = GainOf(gain, p);
  const int threadCount = ThreadsOf(threads);
  const double tolerance = ToleranceOf(toleranceArg, p);
  std::vector<EnergyRange> excluded;
  if (!exclude.is_none())
    for (const py::handle range : exclude) excluded.push_back(RangeOf(range, "exclude"));
  std::vector<EnergyWeight> weighted;
  if (!weights.is_none()) {
    if (!py::isinstance<py::dict>(weights))
      throw py::type_error("weights: a dict {(lo_mev, hi_mev): weight}");
    for (const auto& [range, w] : weights.cast<py::dict>())
      weighted.push_back({RangeOf(range, "weights"), w.cast<double>()});
  }
  const SharedRun run = Prepared(map, p);
  const Result<std::vector<double>> energyWeights = EnergyWeightsOf(*run, excluded, weighted);
  if (!energyWeights) Raise("ParameterError", energyWeights.outcome());
  options.energyWeights = *energyWeights;
  SearchProgress searched;
  options.iterationDone = searched.Sink();
  const std::function<Result<TrimFit>(const StopToken&)> job = [&](const StopToken& stop) {
    return FitTrimCoils(*run, coils, PreciseOrbitCloser(run, threadCount, stop, tolerance),
                        options);
  };
  const Result<TrimFit> found = RunBlocking(job, searched.Tick(progress));
  if (!found) Raise("CalculationError", found.outcome());
  const TrimFit& t = *found;
  py::dict out;
  py::dict currents;
  for (int c = 0; c < coils.Count(); ++c) currents[py::str(coils.Name(c))] = t.currents[c];
  out["currents"] = currents;
  AddOutcome(out, *run, t, tolerance);
  out["condition_number"] = t.conditionNumber;
  auto names = [&](const std::vector<int>& indices) {
    std::vector<std::string> list;
    list.reserve(indices.size());
    for (int c : indices) list.push_back(coils.Name(c));
    return list;
  };
  out["at_limit"] = names(t.atLimit);
  out["no_effect"] = names(t.noEffect);
  out["warnings"] = TrimFitWarnings(*run, t, coils.Names());
  out["_currents_table"] = CoilCurrentsText(coils, t.currents);
  AddCorrectedMap(out, *run, CoilFieldChange(coils, t.currents, run->radii));
  return out;
}

}  // namespace

void BindCorrections(py::module_& m) {
  py::class_<TrimCoils>(m, "CoilTable", R"(Trim coils: their field per ampere against radius.

CoilTable(r_m, {"T1": t_per_a, ...}): from arrays (radii in m, increasing; fields in T/A), checked
as a coil file is; zuba.trim_fit also takes a coil file's path.)")
      .def(py::init(&CoilsOfArrays), py::arg("r_m"), py::arg("coils"))
      .def_property_readonly("names", &TrimCoils::Names)
      .def_property_readonly("r_m", [](const TrimCoils& c) { return CopyArray(c.Radii()); })
      .def("profile", [](const TrimCoils& c, int coil) { return CopyArray(c.Profile(coil)); })
      .def("__len__", &TrimCoils::Count);
  m.def("_isochronise", &IsochronisePy, py::arg("map"), py::arg("parameters"),
        py::arg("gain_per_turn"), py::arg("threads"), py::arg("tolerance"), py::arg("progress"));
  m.def("_trim_fit", &TrimFitPy, py::arg("map"), py::arg("parameters"), py::arg("coils"),
        py::arg("limit"), py::arg("target"), py::arg("gain_per_turn"), py::arg("threads"),
        py::arg("tolerance"), py::arg("exclude"), py::arg("weights"), py::arg("progress"));
  m.def(
      "_write_bytes",
      [](const std::string& path, const py::bytes& bytes) {
        if (const Outcome w = WriteFileAtomically(path, std::string(bytes)); !w)
          Raise("MapError", path, w);
      },
      py::arg("path"), py::arg("bytes"));
}

}  // namespace zuba::python
