// The field map in Python: read_map, FieldMap from arrays, the field at any points, the harmonics
// and the *.sdf file, each through the functions zuba-cli's map commands call.
#include "python/maps.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "calc/maps/map_formats.h"
#include "calc/maps/sdf_writer.h"
#include "numerics/average_field.h"
#include "numerics/azimuthal.h"
#include "numerics/field_interpolation.h"
#include "platform/files.h"
#include "platform/threads.h"
#include "python/binding.h"

namespace zuba::python {

std::string MapHandle::FormatName() const {
  return path ? MapFormatName(map.format) : "array";
}

namespace {}  // namespace

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
  o.format =
      Parsed(ParseMapFormat, format, MapFormat::Auto, "format", "auto, sdf, polar, records, table");
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

// Writes the map as zuba-cli convert does; returns what was written.
py::dict SaveSdf(const MapHandle& m, const std::string& path, const py::object& unit,
                 const py::object& dTheta) {
  std::string unitName;
  if (!unit.is_none()) {
    unitName = py::str(unit).cast<std::string>();
    if (unitName != "Gs" && unitName != "T")
      throw py::value_error("unit: \"" + unitName + "\" is none of Gs, T");
  }
  std::optional<double> step;
  if (!dTheta.is_none()) {
    step = dTheta.cast<double>();
    if (!IsSdfAzimuthStep(*step))
      throw py::value_error(
          "dtheta: the step must have at most three decimals and divide 360 "
          "degrees into a whole number of steps");
  }
  Result<SdfConversion> sdf = ConvertToSdf(m.map, unitName, step);
  if (!sdf) Raise("MapError", m.Name(), sdf.outcome());
  if (Outcome written = WriteFileAtomically(path, sdf->text); !written)
    Raise("MapError", path, written);
  py::dict out;
  out["unit"] = sdf->unit;
  out["n_r"] = sdf->nR;
  out["n_theta"] = sdf->nTheta;
  out["resampled"] = sdf->resampled;
  out["largest_change_t"] = sdf->largestChange;
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
                             "The reader that read the file (sdf, polar, records, table), or "
                             "\"array\".")
      .def_property_readonly(
          "unit", [](const MapHandle& h) { return h.map.unit; },
          "The file's unit of B (Gs, T, kG); \"T\" for arrays.")
      .def("_field", &FieldAt, py::arg("r"), py::arg("theta"), py::arg("reference"))
      .def("harmonics", &Harmonics, py::arg("sectors"),
           "Per radius node the columns of zuba-cli harmonics (R_m, mean_field_T, field_index, "
           "A<n>_T, phase<n>_rad per harmonic n, epsilon, psi_rad, v) as float64 arrays.")
      .def("save_sdf", &SaveSdf, py::arg("path"), py::arg("unit") = "Gs",
           py::arg("dtheta") = py::none(),
           "Writes the map as *.sdf as zuba-cli convert does (unit Gs or T; None: the map's "
           "own). Returns what was written (unit, n_r, n_theta, resampled, largest_change_t).")
      .def("__repr__", [](const MapHandle& h) {
        return "<zuba.FieldMap " + h.FormatName() + " " + std::to_string(h.map.nR) + " x " +
               std::to_string(h.map.nTheta) + (h.path ? " " + *h.path : std::string()) + ">";
      });

  m.def("read_map", &ReadMapPy, py::arg("path"), py::arg("format") = "auto",
        py::arg("replicate") = py::none(), py::arg("mirror") = false, py::arg("negate") = false,
        py::arg("reverse") = false, py::arg("r_unit") = py::none(),
        py::arg("theta_unit") = py::none(), py::arg("b_unit") = py::none(),
        "Reads a field map file of any format zuba-cli reads, with its reading options.");
}

}  // namespace zuba::python
