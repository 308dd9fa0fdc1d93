// The field map in Python: read_map, FieldMap from arrays, the field at any points, the harmonics
// and the *.sdf file, each through the functions zuba-cli's map commands call.
#include "python/maps.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "calc/maps/map_difference.h"
#include "calc/maps/map_formats.h"
#include "calc/maps/map_writers.h"
#include "calc/maps/sdf_writer.h"
#include "numerics/average_field.h"
#include "numerics/azimuthal.h"
#include "numerics/field_interpolation.h"
#include "numerics/units.h"
#include "platform/files.h"
#include "platform/threads.h"
#include "python/binding.h"

namespace zuba::python {

std::string MapHandle::FormatName() const {
  return path ? MapFormatName(map.format) : "array";
}

SharedMap MapOf(FieldMap map, std::optional<std::string> path, const MapReadingOptions& reading,
                const FileStamp& stamp) {
  auto handle = std::make_shared<MapHandle>();
  handle->momentsFormed =
      RadialMoments(map.field, map.radii, map.nTheta, handle->h, handle->moments);
  handle->map = std::move(map);
  handle->path = std::move(path);
  handle->reading = reading;
  handle->reading.format = handle->map.format;
  handle->stamp = stamp;
  return handle;
}

SharedMap ReadMapWith(const std::string& path, const MapReadingOptions& options) {
  FileStamp stamp;
  Result<FieldMap> map = [&] {
    py::gil_scoped_release release;
    return ReadMap(path, options, stamp);
  }();
  if (!map) Raise("MapError", map.outcome());
  return MapOf(std::move(*map), path, options, stamp);
}

namespace {

// A name of the reading options, or a ValueError naming the argument and the names it takes.
template <class T>
T Parsed(std::optional<T> (*parse)(std::string_view), const py::object& value, T none,
         const char* argument, const char* names) {
  if (value.is_none()) return none;
  if (!py::isinstance<py::str>(value))
    throw py::type_error(std::string(argument) + ": a str (" + names + ") or None");
  const std::string text = value.cast<std::string>();
  if (std::optional<T> parsed = parse(text)) return *parsed;
  throw py::value_error(std::string(argument) + ": \"" + text + "\" is none of " + names);
}

SharedMap ReadMapPy(const std::string& path, const py::object& format, const py::object& replicate,
                    bool mirror, bool negate, bool reverse, const py::object& rUnit,
                    const py::object& thetaUnit, const py::object& bUnit) {
  MapReadingOptions o;
  o.format = Parsed(ParseMapFormat, format, MapFormat::Auto, "format",
                    "auto, sdf, polar, records, table, polar-mesh");
  if (!replicate.is_none()) {
    if (!py::isinstance<py::int_>(replicate) || py::isinstance<py::bool_>(replicate))
      throw py::type_error("replicate: an int (the number of sectors) or None");
    o.replicate = replicate.cast<int32_t>();
    if (o.replicate < 1 || o.replicate > kMaxReplicate)
      throw py::value_error("replicate: the number of sectors must be 1 to " +
                            std::to_string(kMaxReplicate) + ", not " + std::to_string(o.replicate));
  }
  o.mirror = mirror;
  o.negate = negate;
  o.reverse = reverse;
  o.rUnit = Parsed(ParseRadiusUnit, rUnit, RadiusUnit::None, "r_unit", "m, mm");
  o.thetaUnit = Parsed(ParseAngleUnit, thetaUnit, AngleUnit::None, "theta_unit", "deg, rad");
  o.bUnit = Parsed(ParseFieldUnit, bUnit, FieldUnit::None, "b_unit", "T, Gs, kG");
  if (Outcome checked = CheckMapReadingOptions(o); !checked)
    throw py::value_error(checked.message().text);
  return ReadMapWith(path, o);
}

SharedMap MapOfArraysPy(const py::handle& r, const py::handle& theta, const py::handle& b) {
  std::vector<double> radii = DoublesOf(r, "r");
  std::vector<double> azimuths = DoublesOf(theta, "theta");
  const py::array field = py::array::ensure(b);
  if (!field || field.ndim() != 2)
    throw py::value_error("b: a 2-dimensional array of shape (len(r), len(theta)) in T");
  if (field.shape(0) != static_cast<py::ssize_t>(radii.size()) ||
      field.shape(1) != static_cast<py::ssize_t>(azimuths.size()))
    throw py::value_error("b: shape (" + std::to_string(field.shape(0)) + ", " +
                          std::to_string(field.shape(1)) + "), not (len(r), len(theta)) = (" +
                          std::to_string(radii.size()) + ", " + std::to_string(azimuths.size()) +
                          ")");
  Result<FieldMap> map = MapOfArrays(std::move(radii), azimuths, DoublesOf(b, "b"));
  if (!map) Raise("MapError", map.outcome());
  return MapOf(std::move(*map), std::nullopt, MapReadingOptions{}, FileStamp{});
}

// A read-only view of a table of the map, kept alive by the map's Python object.
py::array View(const py::object& owner, const std::vector<double>& values,
               std::vector<py::ssize_t> shape) {
  py::array out(py::dtype::of<double>(), std::move(shape), values.data(), owner);
  py::detail::array_proxy(out.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return out;
}

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

// B (T) at each point (R, theta): by the constant-time patches of the orbit searches, or with
// `reference` by the per-call evaluation of zuba-cli field (the same value or one unit in the last
// place apart); refused at the first point the interpolation refuses. Large arrays are shared
// among the machine's threads.
py::array_t<double> FieldAt(const MapHandle& m, const Doubles& r, const Doubles& theta,
                            bool reference) {
  if (r.size() != theta.size()) throw py::value_error("r and theta: arrays of one length");
  if (!m.momentsFormed) Raise("MapError", m.Name(), m.momentsFormed);
  const py::ssize_t n = r.size();
  py::array_t<double> out(n);
  const double* R = r.data();
  const double* T = theta.data();
  double* B = out.mutable_data();
  std::optional<Outcome> refused;
  {
    py::gil_scoped_release release;
    const FieldPatches* patches = nullptr;
    if (!reference) {
      const Result<FieldPatches>& built = m.Patches();
      if (!built) {
        refused = built.outcome();
      } else {
        patches = &*built;
      }
    }
    const int32_t threads = refused || n < 20000 ? 1 : HardwareThreads();
    const py::ssize_t chunk = (n + threads - 1) / threads;
    std::vector<std::optional<Outcome>> failed(static_cast<size_t>(threads));
    auto work = [&](int32_t t) {
      const py::ssize_t end = std::min(n, (t + 1) * chunk);
      for (py::ssize_t i = t * chunk; i < end; ++i) {
        Outcome o = patches != nullptr
                        ? patches->Evaluate(R[i], T[i], B[i])
                        : InterpolateField(R[i], T[i], m.h, m.map.radii, m.map.azimuths,
                                           m.map.field, m.moments, B[i]);
        if (!o) {
          failed[static_cast<size_t>(t)] = std::move(o);
          return;
        }
      }
    };
    if (!refused) {
      std::vector<std::thread> pool;
      for (int32_t t = 1; t < threads; ++t) pool.emplace_back(work, t);
      work(0);
      for (std::thread& thread : pool) thread.join();
      for (const std::optional<Outcome>& f : failed)
        if (f) {
          refused = *f;
          break;
        }
    }
  }
  if (refused) Raise("MapError", *refused);
  return out;
}

// The columns of zuba-cli harmonics, by their header names.
py::dict Harmonics(const MapHandle& m, int32_t sectors) {
  if (sectors < 2)
    throw py::value_error("sectors: the number of sectors must be at least 2, not " +
                          std::to_string(sectors));
  AverageFieldAnalysis a;
  Outcome analysed;
  {
    py::gil_scoped_release release;
    analysed = AnalyseAverageField(m.map.field, m.map.radii, sectors, m.map.thetaStart,
                                   m.map.thetaEnd, m.map.nTheta, a);
  }
  if (!analysed) Raise("MapError", analysed);
  const int32_t count = HarmonicCount(sectors);
  const size_t nR = m.map.radii.size();
  py::dict out;
  out["R_m"] = CopyArray(m.map.radii);
  out["mean_field_T"] = CopyArray(a.meanField);
  out["field_index"] = CopyArray(a.fieldIndex);
  for (int32_t p = 0; p < count; ++p) {
    std::vector<double> amplitude(nR), phase(nR);
    for (size_t i = 0; i < nR; ++i) {
      amplitude[i] = a.amplitude[i * count + p];
      phase[i] = a.phase[i * count + p];
    }
    const std::string n = std::to_string(HarmonicNumber(sectors, p));
    out[py::str("A" + n + "_T")] = CopyArray(amplitude);
    out[py::str("phase" + n + "_rad")] = CopyArray(phase);
  }
  out["epsilon"] = CopyArray(a.epsilon);
  out["psi_rad"] = CopyArray(a.psi);
  out["v"] = CopyArray(a.v);
  return out;
}

// How zuba-cli convert writes the map: --to, --unit and --dtheta by their argument names, with its
// refusals as ValueErrors naming the argument.
MapWriting WritingOf(const std::string& format, const py::object& unit, const py::object& dTheta) {
  MapWriting how;
  const std::optional<MapFormat> parsed = ParseMapFormat(format);
  if (!parsed || *parsed == MapFormat::Auto || *parsed == MapFormat::Records)
    throw py::value_error("format: \"" + format + "\" is none of sdf, polar, table, polar-mesh");
  how.format = *parsed;
  if (how.format != MapFormat::Sdf && (!unit.is_none() || !dTheta.is_none()))
    throw py::value_error("unit and dtheta apply to a .sdf map; format \"" + format +
                          "\" writes the mesh as it is (" +
                          (how.format == MapFormat::Table ? "T" : "kG") + ")");
  if (!unit.is_none()) {
    how.sdfUnit = py::str(unit).cast<std::string>();
    if (how.sdfUnit != "Gs" && how.sdfUnit != "T")
      throw py::value_error("unit: \"" + how.sdfUnit + "\" is none of Gs, T");
  }
  if (!dTheta.is_none()) {
    if (!py::isinstance<py::float_>(dTheta) && !py::isinstance<py::int_>(dTheta))
      throw py::type_error("dtheta: a step in degrees or None");
    how.sdfDTheta = dTheta.cast<double>();
    if (!IsSdfAzimuthStep(*how.sdfDTheta))
      throw py::value_error(
          "dtheta: the step must have at most three decimals and divide 360 "
          "degrees into a whole number of steps");
  }
  return how;
}

// Writes the map as zuba-cli convert writes it (the same text, the same refusals, naming the map
// or the output file); returns what was written.
py::dict Save(const MapHandle& m, const std::string& path, const std::string& format,
              const py::object& unit, const py::object& dTheta) {
  const MapWriting how = WritingOf(format, unit, dTheta);
  Result<MapFileText> text = [&] {
    py::gil_scoped_release release;
    return WriteMapText(m.map, how);
  }();
  if (!text) Raise("MapError", m.Name(), text.outcome());
  if (Outcome written = WriteFileAtomically(path, text->text); !written)
    Raise("MapError", path, written);
  py::dict out;
  out["format"] = format;
  out["n_r"] = text->sdf ? text->sdf->nR : m.map.nR;
  out["n_theta"] = text->sdf ? text->sdf->nTheta : m.map.nTheta;
  if (text->sdf) {
    out["unit"] = text->sdf->unit;
    out["resampled"] = text->sdf->resampled;
    out["largest_change_t"] = text->sdf->largestChange;
  }
  return out;
}

// A minus B on A's mesh as zuba-cli map-diff gives it: its columns by the names of its table and
// JSON, the RMS and the largest difference with its place, and the difference as a map.
py::dict MapDiff(const MapHandle& a, const MapHandle& b, const py::object& sectors) {
  std::optional<int32_t> n;
  if (!sectors.is_none()) {
    if (!py::isinstance<py::int_>(sectors) || py::isinstance<py::bool_>(sectors))
      throw py::type_error("sectors: an int (N of the N-th harmonic) or None");
    const long value = sectors.cast<long>();
    if (value < 2 || value > 360)
      throw py::value_error("sectors: " + std::to_string(value) + " is not in 2 .. 360");
    n = static_cast<int32_t>(value);
  }
  Result<MapDifference> found = [&] {
    py::gil_scoped_release release;
    return DifferenceOfMaps(a.map, b.map, n);
  }();
  if (!found) Raise("MapError", a.Name() + " - " + b.Name(), found.outcome());
  MapDifference& d = *found;
  auto column = [&](double RadiusDifference::*member) {
    std::vector<double> values;
    values.reserve(d.radii.size());
    for (const RadiusDifference& r : d.radii) values.push_back(r.*member);
    return CopyArray(values);
  };
  py::dict out;
  out["r_m"] = column(&RadiusDifference::r);
  out["delta_mean_t"] = column(&RadiusDifference::deltaMean);
  out["delta_field_index"] = column(&RadiusDifference::deltaFieldIndex);
  out["delta_a1_t"] = column(&RadiusDifference::deltaA1);
  out["delta_a2_t"] = column(&RadiusDifference::deltaA2);
  out["delta_an_t"] = column(&RadiusDifference::deltaAN);
  out["sectors"] = d.sectors;
  out["rms_t"] = d.rms;
  out["max_abs_t"] = d.maxAbs;
  py::dict at;
  at["r_m"] = d.maxR;
  at["theta_deg"] = Degrees(d.maxTheta);
  out["max_at"] = at;
  out["difference"] =
      MapOf(std::move(d.difference), std::nullopt, MapReadingOptions{}, FileStamp{});
  return out;
}

}  // namespace

std::vector<double> DoublesOf(const py::handle& values, const char* name) {
  py::array_t<double, py::array::c_style | py::array::forcecast> array;
  try {
    array = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(values);
  } catch (const py::error_already_set&) {
  }
  if (!array || py::isinstance<py::str>(values))
    throw py::type_error(std::string(name) + ": an array of numbers");
  return std::vector<double>(array.data(), array.data() + array.size());
}

void BindMaps(py::module_& m) {
  py::class_<MapHandle, std::shared_ptr<MapHandle>>(m, "FieldMap", R"(A median-plane field map.

FieldMap(r, theta, b): a map made from arrays: r (m, increasing), theta (rad, one full turn at
equal steps 2 pi / n without the closing azimuth: theta[k] = theta[0] + k 2 pi / n), b (T, shape
(len(r), len(theta))); checked as a file's mesh is (MapError naming the array at fault). The
arrays are copied. zuba.read_map reads a map file.)")
      .def(py::init(&MapOfArraysPy), py::arg("r"), py::arg("theta"), py::arg("b"))
      .def_property_readonly(
          "r",
          [](const py::object& self) {
            return View(self, self.cast<const MapHandle&>().map.radii,
                        {static_cast<py::ssize_t>(self.cast<const MapHandle&>().map.nR)});
          },
          "Radii (m): a read-only view into the map.")
      .def_property_readonly(
          "theta",
          [](const py::object& self) {
            const MapHandle& h = self.cast<const MapHandle&>();
            return View(self, h.map.azimuths, {static_cast<py::ssize_t>(h.map.nTheta)});
          },
          "Azimuths (rad) of the full turn, equally spaced: a read-only view into the map.")
      .def_property_readonly(
          "b",
          [](const py::object& self) {
            const MapHandle& h = self.cast<const MapHandle&>();
            return View(self, h.map.field, {h.map.nR, h.map.nTheta});
          },
          "Field B (T), shape (len(r), len(theta)): a read-only view into the map.")
      .def_property_readonly(
          "path", [](const MapHandle& h) { return h.path; },
          "The file read, or None for a map made from arrays.")
      .def_property_readonly("format", &MapHandle::FormatName,
                             "The reader that read the file (sdf, polar, records, table, "
                             "polar-mesh), or "
                             "\"array\".")
      .def_property_readonly(
          "unit", [](const MapHandle& h) { return h.map.unit; },
          "The file's unit of B (Gs, T, kG); \"T\" for arrays.")
      .def("_field", &FieldAt, py::arg("r"), py::arg("theta"), py::arg("reference"))
      .def("harmonics", &Harmonics, py::arg("sectors"),
           "Per radius node the columns of zuba-cli harmonics (R_m, mean_field_T, field_index, "
           "A<n>_T, phase<n>_rad per harmonic n, epsilon, psi_rad, v) as float64 arrays.")
      .def("_save", &Save, py::arg("path"), py::arg("format"), py::arg("unit"), py::arg("dtheta"))
      .def("__repr__", [](const MapHandle& h) {
        return "<zuba.FieldMap " + h.FormatName() + " " + std::to_string(h.map.nR) + " x " +
               std::to_string(h.map.nTheta) + (h.path ? " " + *h.path : std::string()) + ">";
      });

  m.def("read_map", &ReadMapPy, py::arg("path"), py::arg("format") = "auto",
        py::arg("replicate") = py::none(), py::arg("mirror") = false, py::arg("negate") = false,
        py::arg("reverse") = false, py::arg("r_unit") = py::none(),
        py::arg("theta_unit") = py::none(), py::arg("b_unit") = py::none(),
        "Reads a field map file of any format zuba-cli reads, with its reading options.");
  m.def("_map_diff", &MapDiff, py::arg("a"), py::arg("b"), py::arg("sectors"));
}

}  // namespace zuba::python
