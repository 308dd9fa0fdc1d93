// The Python module zuba._zuba: the field map, runs and their results over the calculation
// library; the package zuba (python/zuba/__init__.py) gives it its Python face.
#include "python/binding.h"

namespace zuba::python {

void RegisterErrors() {
  // pybind11 takes a translator of this exact signature (a function pointer).
  // NOLINTNEXTLINE(performance-unnecessary-value-param)
  py::register_exception_translator([](std::exception_ptr raised) {
    try {
      if (raised) std::rethrow_exception(raised);
    } catch (const ErrorRaised& e) {
      const py::object type = py::module_::import("zuba").attr(e.kind);
      const py::object error = type(e.message.text, e.message.caption);
      PyErr_SetObject(type.ptr(), error.ptr());
    }
  });
}

}  // namespace zuba::python

PYBIND11_MODULE(_zuba, m) {
  namespace zp = zuba::python;
  m.doc() = "The calculation library of ZUBA (use the package zuba).";
  m.attr("__version__") = ZUBA_VERSION;
  zp::RegisterErrors();
  zp::BindMaps(m);
  zp::BindRuns(m);
  zp::BindCorrections(m);
}
