// Runs in Python: the run parameters (a preset and changes by the names --set takes), a run of
// every energy on a field map through the prepared run and RunCalculation, its results as NumPy
// arrays, and the files zuba-cli run writes, from the same functions.
#include "python/runs.h"

#include <pybind11/stl.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "calc/run/diagnostics.h"
#include "calc/run/driver.h"
#include "calc/run/machine_file.h"
#include "calc/run/orbit_coordinates.h"
#include "calc/run/prepared_run.h"
#include "calc/run/run_checks.h"
#include "calc/run/run_quantities.h"
#include "calc/run/values_table.h"
#include "numerics/units.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "platform/threads.h"
#include "python/binding.h"
#include "python/maps.h"
#include "results/document.h"
#include "results/report.h"
#include "results/run_completion.h"
#include "results/run_fields.h"
#include "results/text.h"

namespace zuba::python {

// The prepared run of the map and parameters (a ParameterError when refused).
SharedRun Prepared(const MapHandle& map, const ParametersHandle& p) {
  RunParameters parameters = p.run;
  parameters.Path = map.path ? TrimSpace(*map.path) : std::string();
  Result<SharedRun> prepared = [&] {
    py::gil_scoped_release release;
    return PrepareCalculation(parameters, map.map, map.reading, map.stamp);
  }();
  if (!prepared) Raise("ParameterError", prepared.outcome());
  return *prepared;
}

std::string Printed(const Message& message) {
  return message.caption + ": " + message.text;
}

int ThreadsOf(const py::object& threads) {
  if (threads.is_none()) return HardwareThreads();
  if (!py::isinstance<py::int_>(threads) || py::isinstance<py::bool_>(threads))
    throw py::type_error("threads: an int (1 .. 1024) or None");
  const long count = threads.cast<long>();
  if (count < 1 || count > 1024)
    throw py::value_error("threads: " + std::to_string(count) + " is not in 1 .. 1024");
  return static_cast<int>(count);
}

namespace {

// What names the record of a run in refusals, as zuba-cli run --orbits names it.
constexpr const char* kRunSource = "The run";

// The parameters with the changes (name, text) by the names --set takes, completed and checked.
ParametersHandle Changed(ParametersHandle p,
                         const std::vector<std::pair<std::string, std::string>>& changes) {
  for (const auto& [name, text] : changes) {
    const RunField* field = FindRunField(name);
    if (field == nullptr || !field->settable())
      Raise("ParameterError",
            Message{"unknown parameter \"" + name + "\"; the names are " + SettableRunFieldNames(),
                    "Error"});
    if (const Outcome set = SetRunField(*field, text, p.run); !set)
      Raise("ParameterError", name, set);
  }
  return Completed(std::move(p));
}

// The value of a run field as Python holds it.
py::object FieldValue(const RunField& field, const RunParameters& run) {
  return VisitRunField(field, run, [](const auto& value) { return py::cast(value); });
}

// The preset of the mode and every change (name, text), completed as the Input Data dialog
// completes them and checked as a run checks them. The map path is not a run field here: the run
// takes it from the map it is given.
ParametersHandle MakeParameters(const std::string& mode, const std::optional<std::string>& machine,
                                const std::vector<std::pair<std::string, std::string>>& changes) {
  ParametersHandle p;
  if (machine) {
    Result<Machine> read = [&] {
      py::gil_scoped_release release;
      return ReadMachineFile(*machine);
    }();
    if (!read) Raise("ParameterError", read.outcome());
    p.run = read->run;
    p.machine = machine;
    p.mode = read->name;
    p.gainPerTurn = read->gainPerTurnMeV;
    p.closure = read->closure;
    p.tolerance = read->tolerance;
    if (read->hasMap) p.mapPath = read->run.Path;
    p.mapReading = read->mapReading;
    p.run.Path.clear();
  } else {
    if (!ApplyPreset(mode, p.run))
      throw py::value_error("mode: unknown label \"" + mode + "\"; the labels are \"" +
                            kModeTvk310 + "\" and \"" + kModeAvf14N5 + "\"");
    p.mode = mode;
  }
  return Changed(std::move(p), changes);
}

py::dict ParameterUnits() {
  py::dict units;
  for (const RunField& field : kRunFields) units[field.name] = field.unit;
  return units;
}

// The values file's columns of a record by their header names.
py::dict ValuesOf(const RunResult& r) {
  return ColumnsOf(ValuesTable(r.tables, ClosureColumnsOf(r.tables, r.gainPerTurn)));
}

// A number argument of a call (int or float), or a TypeError naming it.
double NumberOf(const py::handle& value, const char* name, const char* what) {
  if (!py::isinstance<py::float_>(value) && !py::isinstance<py::int_>(value))
    throw py::type_error(std::string(name) + ": " + what);
  return value.cast<double>();
}

// The azimuth and grid asked for, checked as zuba-cli orbits checks --theta and --grid (its text,
// as a ValueError).
OrbitRequest RequestOf(const py::object& thetaDeg, const py::object& gridDeg) {
  OrbitRequest request;
  request.thetaDeg = NumberOf(thetaDeg, "theta_deg", "an azimuth in degrees");
  if (!gridDeg.is_none())
    request.gridDeg = NumberOf(gridDeg, "grid_deg", "a step in degrees or None");
  if (const Outcome checked = CheckOrbitRequest(request); !checked)
    throw py::value_error(checked.message().text);
  return request;
}

// The closed orbits of a record at an azimuth as zuba-cli orbits writes them, by column; the
// warning it prints when the samples are too coarse for the promised accuracy as a UserWarning.
// A precise run's orbits are followed in its field from their samples where it is at hand.
py::dict OrbitsOf(const RunResult& r, const OrbitRequest& request) {
  std::optional<RunOrbitField> field;
  if (r.tables.closure.mode == static_cast<int32_t>(ClosureMode::Precise)) {
    Result<RunOrbitField> made =
        r.run ? RunOrbitField::Of(*r.run) : RunOrbitFieldOf(r.tables, r.documentFolder);
    if (made) field = std::move(*made);
  }
  const Result<OrbitCoordinates> orbits =
      OrbitCoordinatesOf(r.tables, request, field ? &*field : nullptr);
  if (!orbits)
    Raise(r.source == kRunSource ? "CalculationError" : "DocumentError", r.source,
          orbits.outcome());
  if (orbits->accuracy &&
      PyErr_WarnEx(PyExc_UserWarning, ("Warning: " + *orbits->accuracy).c_str(), 1) != 0)
    throw py::error_already_set();
  return ColumnsOf(OrbitCoordinatesTable(*orbits));
}

py::dict OrbitsAt(const RunResult& r, const py::object& thetaDeg, const py::object& gridDeg) {
  return OrbitsOf(r, RequestOf(thetaDeg, gridDeg));
}

// Energy i of the record, or an IndexError.
int64_t EnergyIndex(const RunResult& r, int64_t i) {
  const int64_t n = r.tables.Ek.size();
  if (i < 0) i += n;
  if (i < 0 || i >= n)
    throw py::index_error("energy index " + std::to_string(i) + " outside 0 .. " +
                          std::to_string(n - 1));
  return i;
}

py::dict OrbitOf(const RunResult& r, int64_t i) {
  i = EnergyIndex(r, i);
  const auto points = r.tables.OrbitPoints.values();
  int64_t start = 0;
  for (int64_t k = 0; k < i && k < std::ssize(points); ++k) start += points[k];
  const int64_t count = i < std::ssize(points) ? points[i] : 0;
  auto part = [&](const RealTable& table) {
    const auto all = table.values();
    if (start + count > std::ssize(all)) return CopyArray({});
    return CopyArray(all.subspan(static_cast<size_t>(start), static_cast<size_t>(count)));
  };
  py::dict out;
  out["R_m"] = part(r.tables.OrbitR);
  out["vR"] = part(r.tables.OrbitVr);
  out["theta_rad"] = part(r.tables.OrbitTheta);
  out["omega"] = part(r.tables.OrbitOmega);
  out["tau"] = part(r.tables.OrbitTau);
  return out;
}

std::vector<std::string> StatusOf(const RunResult& r, bool reasons) {
  const ClosureColumns closure = ClosureColumnsOf(r.tables, r.gainPerTurn);
  std::vector<std::string> out;
  for (int64_t i = 0; i < r.tables.Ek.size(); ++i) {
    if (reasons)
      out.push_back(i < std::ssize(closure.reasons) ? closure.reasons[i] : "");
    else
      out.emplace_back(ClosureStatusText(i < std::ssize(closure.status) ? closure.status[i] : 0));
  }
  return out;
}

// The results of a run that completed, with the run's messages after `warnings`; a
// CalculationError for a run that failed or was stopped, or a precise run in which no energy
// closed, as zuba-cli run exits 3.
RunResult ResultOf(CalculationOutput output, double gainPerTurn,
                   std::vector<std::string> warnings) {
  RunResult result;
  result.gainPerTurn = gainPerTurn;
  result.source = kRunSource;
  result.warnings = std::move(warnings);
  for (const Failure& failure : output.messages)
    result.warnings.push_back(Printed(failure.message));
  if (output.outcome == WorkerOutcome::Stopped) {
    // A stop comes from Ctrl+C only, which RunBlocking raises; a run stopped otherwise fails.
    Raise("CalculationError", Message{"The calculation was stopped.", "Stop"});
  }
  if (output.outcome == WorkerOutcome::Failed) {
    Message message{"The calculation failed.", "Error"};
    if (!output.messages.empty()) message = output.messages.back().message;
    Raise("CalculationError", message);
  }
  for (const std::string& note : output.notes) result.warnings.push_back(note);
  result.tables = std::move(output.results);
  const ClosureColumns columns = ClosureColumnsOf(result.tables, result.gainPerTurn);
  bool anyClosed = !columns.precise;
  for (int64_t i = 0; i < result.tables.Ek.size() && !anyClosed; ++i)
    anyClosed = columns.HasValues(i);
  if (!anyClosed) {
    Message message{"No energy of the run closed.", "Error"};
    if (!output.messages.empty()) message = output.messages.back().message;
    Raise("CalculationError", message);
  }
  return result;
}

RunResult RunPy(const MapHandle& map, const ParametersHandle& p, const std::string& closureName,
                const py::object& threads, const py::object& gain, const py::object& tolerance,
                bool checks, const py::object& progress) {
  const std::optional<ClosureMode> closure = ParseClosureMode(closureName);
  if (!closure)
    throw py::value_error("closure: \"" + closureName + "\" is none of standard, precise");
  WorkerOptions worker;
  worker.threads = ThreadsOf(threads);
  worker.closure = *closure;
  worker.gainPerTurnMeV = GainOf(gain, p);
  worker.tolerance = ToleranceOf(tolerance, p);
  if (!progress.is_none() && !PyCallable_Check(progress.ptr()))
    throw py::type_error("progress: a callable progress(done, total) or None");

  const SharedRun run = Prepared(map, p);
  // What makes the run implausible, as zuba-cli run prints it before the run (unless --no-checks).
  std::vector<std::string> warnings;
  if (checks) {
    py::gil_scoped_release release;
    for (const std::string& warning : RunWarnings(*run))
      warnings.push_back(Printed(Message{warning, "Warning"}));
  }

  CountingProgress counter;
  int32_t reported = -1;
  auto tick = [&] {
    const int32_t done = counter.done();
    if (progress.is_none() || done == reported || counter.total() == 0) return;
    reported = done;
    progress(done, counter.total());
  };
  const std::function<CalculationOutput(const StopToken&)> job = [&](const StopToken& stop) {
    return RunCalculation(*run, worker, counter, stop);
  };
  RunResult result = ResultOf(RunBlocking(job, std::function<void()>(tick)), worker.gainPerTurnMeV,
                              std::move(warnings));
  result.run = run;
  return result;
}

RunResult LoadPy(const std::string& path) {
  Result<DocumentLoad> loaded = [&] {
    py::gil_scoped_release release;
    return LoadDocumentFile(path);
  }();
  if (!loaded) Raise("DocumentError", path, loaded.outcome());
  RunResult result;
  result.tables = std::move(loaded->results);
  result.documentFolder = std::filesystem::path(path).parent_path().string();
  // A precise run's record carries its own phase slip; the values file of a record is written
  // with the default gain per turn, as zuba-cli report does.
  result.gainPerTurn = kDefaultGainPerTurnMeV;
  result.source = path;
  return result;
}

// The closed orbits of a Results object or of a document read from a path, as zuba-cli orbits
// gives them: the azimuth and grid checked first, then the document read.
py::dict OrbitsPy(const py::object& source, const py::object& thetaDeg, const py::object& gridDeg) {
  const OrbitRequest request = RequestOf(thetaDeg, gridDeg);
  if (py::isinstance<RunResult>(source)) return OrbitsOf(source.cast<const RunResult&>(), request);
  return OrbitsOf(LoadPy(source.cast<std::string>()), request);
}

}  // namespace

py::dict ColumnsOf(const std::string& text) {
  std::vector<std::string> names;
  std::vector<std::vector<std::string>> cells;
  size_t lineStart = 0;
  for (bool header = true; lineStart < text.size(); header = false) {
    size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    const std::string_view line(text.data() + lineStart, lineEnd - lineStart);
    size_t cellStart = 0, column = 0;
    for (;;) {
      const size_t cellEnd = line.find('\t', cellStart);
      const std::string_view cell = line.substr(
          cellStart, cellEnd == std::string_view::npos ? line.npos : cellEnd - cellStart);
      if (header) {
        names.emplace_back(cell);
        cells.emplace_back();
      } else if (column < cells.size()) {
        cells[column].emplace_back(cell);
      }
      ++column;
      if (cellEnd == std::string_view::npos) break;
      cellStart = cellEnd + 1;
    }
    lineStart = lineEnd + 1;
  }
  py::dict out;
  for (size_t k = 0; k < names.size(); ++k) {
    // A column of numbers (an empty cell or "unstable" among them) or of words.
    bool numbers = true;
    std::vector<double> values;
    for (const std::string& cell : cells[k]) {
      const std::optional<double> value = ParseNumber(cell);
      if (!value && !cell.empty() && cell != "unstable") numbers = false;
      values.push_back(value.value_or(std::numeric_limits<double>::quiet_NaN()));
    }
    if (numbers)
      out[py::str(names[k])] = CopyArray(values);
    else
      out[py::str(names[k])] = py::cast(cells[k]);
  }
  return out;
}

ParametersHandle Completed(ParametersHandle p) {
  // What the Input Data dialog does when it closes with Enter, on a stand-in path (the run takes
  // the path of its map), then the checks of a run's quantities.
  const std::string path = p.run.Path;
  p.run.Path = path.empty() ? std::string("map") : path;
  if (const Outcome completion = CompleteRunParameters(p.run); !completion)
    Raise("ParameterError", completion);
  p.run.Path = path;
  if (Result<RunQuantities> derived = DeriveRunQuantities(p.run); !derived)
    Raise("ParameterError", derived.outcome());
  return p;
}

double GainOf(const py::object& gain, const ParametersHandle& p) {
  double value = p.gainPerTurn.value_or(kDefaultGainPerTurnMeV);
  if (!gain.is_none()) {
    if (!py::isinstance<py::float_>(gain) && !py::isinstance<py::int_>(gain))
      throw py::type_error("gain_per_turn: a number (MeV per turn) or None");
    value = gain.cast<double>();
  }
  if (!(value >= 1e-6 && value <= 1e6))
    throw py::value_error("gain_per_turn: " + FormatNumber(value, Significant(6)) +
                          " MeV is not in 1e-06 .. 1e+06");
  return value;
}

double ToleranceOf(const py::object& tolerance, const ParametersHandle& p) {
  if (tolerance.is_none()) return p.tolerance.value_or(kDefaultPreciseTolerance);
  const double value = NumberOf(tolerance, "tolerance", "a number (relative step error) or None");
  if (const Outcome checked = CheckPreciseTolerance(value); !checked)
    Raise("ParameterError", checked);
  return value;
}

namespace {

py::list FieldNames() {
  py::list names;
  for (const RunField& field : kRunFields) names.append(field.name);
  return names;
}

std::string ParametersRepr(const ParametersHandle& p) {
  std::string text = "zuba.Parameters(";
  for (const RunField& field : kRunFields) {
    if (text.back() != '(') text += ", ";
    text += std::string(field.name) + "=" + py::repr(FieldValue(field, p.run)).cast<std::string>();
  }
  return text + ")";
}

// zuba.Parameters and the functions that make it (zuba.parameters is their Python face).
void BindParameters(py::module_& m) {
  py::class_<ParametersHandle>(m, "Parameters", R"(The run parameters: the fourteen run fields by
their names (the names zuba-cli run --set takes; units in Parameters.units), completed and checked
as the Input Data dialog and zuba-cli do. Read-only and dict-like; replace(**changes) gives a new
checked set. Made by zuba.parameters().)")
      .def("__getitem__",
           [](const ParametersHandle& p, const std::string& name) {
             const RunField* field = FindRunField(name);
             if (field == nullptr) throw py::key_error(name);
             return FieldValue(*field, p.run);
           })
      .def("__len__", [](const ParametersHandle&) { return kRunFieldCount; })
      .def("__iter__", [](const ParametersHandle&) { return py::iter(FieldNames()); })
      .def("__contains__",
           [](const ParametersHandle&, const py::object& name) {
             return py::isinstance<py::str>(name) &&
                    FindRunField(name.cast<std::string>()) != nullptr;
           })
      .def("keys", [](const ParametersHandle&) { return FieldNames(); })
      .def_property_readonly(
          "mode", [](const ParametersHandle& p) { return p.mode; },
          "The preset's label, or the machine file's name.")
      .def_property_readonly(
          "machine", [](const ParametersHandle& p) { return p.machine; },
          "The machine file read, or None.")
      .def_property_readonly(
          "map_path", [](const ParametersHandle& p) { return p.mapPath; },
          "The machine file's map (resolved), or None.")
      .def_property_readonly(
          "gain_per_turn", [](const ParametersHandle& p) { return p.gainPerTurn; },
          "MeV per turn the parameters carry (a machine file's), or None.")
      .def_property_readonly(
          "closure",
          [](const ParametersHandle& p) -> py::object {
            if (!p.closure) return py::none();
            return py::str(*p.closure == ClosureMode::Precise ? "precise" : "standard");
          },
          "The closure the parameters carry (a machine file's), or None.")
      .def_property_readonly(
          "tolerance", [](const ParametersHandle& p) { return p.tolerance; },
          "The precise closure's tolerance the parameters carry (a machine file's), or None.")
      .def_property_readonly_static("units", [](const py::object&) { return ParameterUnits(); })
      .def("__repr__", &ParametersRepr);
  m.def("_parameters", &MakeParameters, py::arg("mode"), py::arg("machine"), py::arg("changes"));
  m.def(
      "_machine_map",
      [](const ParametersHandle& p) {
        if (!p.mapPath)
          throw py::value_error("the parameters name no map (only a machine file's may)");
        return ReadMapWith(*p.mapPath, p.mapReading);
      },
      py::arg("parameters"));
  m.def("_replace", &Changed, py::arg("parameters"), py::arg("changes"));
}

void SaveDocument(const RunResult& r, const std::string& path) {
  if (const Outcome s = SaveDocumentFile(path, r.tables, 1); !s) Raise("DocumentError", path, s);
}

std::vector<std::string> WriteReport(const RunResult& r, const std::string& path) {
  const ReportSaving w = SaveResultsReportFile(r.tables, path);
  if (!w.outcome) Raise("DocumentError", w.outcome);
  std::vector<std::string> notes;
  for (const Failure& f : w.leftOut) notes.push_back(Printed(f.message));
  return notes;
}

void WriteValues(const RunResult& r, const std::string& path) {
  const std::string text = ValuesTable(r.tables, ClosureColumnsOf(r.tables, r.gainPerTurn));
  if (const Outcome w = WriteFileAtomically(path, text); !w) Raise("DocumentError", path, w);
}

const char* ClosureName(const RunResult& r) {
  return r.tables.closure.mode == 1 ? "precise" : "standard";
}

// zuba.Results: what a run or a document gives, and the files zuba-cli run writes.
void BindResults(py::module_& m) {
  py::class_<RunResult>(m, "Results", R"(The results of a run (zuba.run) or of a document
(zuba.load): per energy the values of zuba-cli run --values, the closure status, the stored orbit
samples, and the files zuba-cli run writes. Every array is a copy owned by Python.)")
      .def_property_readonly("values", &ValuesOf,
                             "Every column of the values file by its header name (Ek_J, Ek_MeV, "
                             "Rmn_m, Bmn_T, Rev_m, F0_Hz, dReo_m, isochronism, phase_deg, nu_r, "
                             "nu_z, consistency, vr_residual) as float64 arrays; NaN where the "
                             "file has an empty cell or \"unstable\".")
      .def_property_readonly(
          "warnings", [](const RunResult& r) { return r.warnings; },
          "The lines zuba-cli run prints on stderr: the checks before the run (\"Warning: ...\"), "
          "then the run's messages and notes.")
      .def_property_readonly(
          "status", [](const RunResult& r) { return StatusOf(r, false); },
          "Per energy: closed, not_closed, singular or failed.")
      .def_property_readonly(
          "reason", [](const RunResult& r) { return StatusOf(r, true); },
          "Per energy: why it did not close (empty where it closed).")
      .def_property_readonly("closure", &ClosureName)
      .def_property_readonly(
          "tolerance",
          [](const RunResult& r) -> std::optional<double> {
            const ClosureTables& c = r.tables.closure;
            if (c.mode != 1 || !(c.tolerance > 0)) return std::nullopt;
            return c.tolerance;
          },
          "The relative tolerance the precise closure closed the orbits to; None for the standard "
          "closure and for a document written before documents kept it.")
      .def_property_readonly("gain_per_turn", [](const RunResult& r) { return r.gainPerTurn; })
      .def_property_readonly("parameters",
                             [](const RunResult& r) {
                               ParametersHandle p;
                               p.run = r.tables.run;
                               return p;
                             })
      .def("__len__", [](const RunResult& r) { return r.tables.Ek.size(); })
      .def("orbit_at", &OrbitsAt, py::arg("theta_deg") = 0.0, py::arg("grid_deg") = py::none(),
           "The closed orbits at an azimuth, as zuba-cli orbits writes them: per energy (and "
           "grid azimuth) Ek_MeV, theta_deg, R_m, pr_bg, u, Rmean_m, xc_m, yc_m (arrays, NaN "
           "where the orbit did not close) and status (list).")
      .def("orbit", &OrbitOf, py::arg("i"),
           "The stored samples of energy i: R_m, vR (m/rad), theta_rad, omega, tau (arrays).")
      .def("save", &SaveDocument, py::arg("path"),
           "Saves the results as a document (*.zub), as zuba-cli run --save.")
      .def("write_report", &WriteReport, py::arg("path"),
           "Writes the text report, as zuba-cli run --report; returns the notes of numbers left "
           "out.")
      .def("write_values", &WriteValues, py::arg("path"),
           "Writes the values file, as zuba-cli run --values.")
      .def("__repr__", [](const RunResult& r) {
        return "<zuba.Results " + std::to_string(r.tables.Ek.size()) + " energies, " +
               ClosureName(r) + ">";
      });
}

}  // namespace

void BindRuns(py::module_& m) {
  BindParameters(m);
  BindResults(m);
  m.def("_run", &RunPy, py::arg("map"), py::arg("parameters"), py::arg("closure"),
        py::arg("threads"), py::arg("gain_per_turn"), py::arg("tolerance"), py::arg("checks"),
        py::arg("progress"));
  m.def("load", &LoadPy, py::arg("path"), "Reads a document (*.zub) as a Results object.");
  m.def("_orbits", &OrbitsPy, py::arg("source"), py::arg("theta_deg"), py::arg("grid_deg"));
}

}  // namespace zuba::python
