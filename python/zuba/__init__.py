"""ZUBA from Python: field maps, closed orbits, tunes and corrections as NumPy arrays.

Every number comes from the calculation library that zuba-cli runs (the extension zuba._zuba);
this package only converts arguments and results. See docs/PYTHON.md.

    import zuba
    m = zuba.read_map("examples/tvk310-p.sdf")
    r = zuba.run(m, zuba.parameters("TVK-310: p"), closure="precise")
    r.values["nu_z"]
"""

import collections.abc as _abc
import os as _os
import numbers as _numbers

import numpy as _np

from . import _zuba
from ._zuba import CoilTable, FieldMap, Parameters, Results

__version__ = _zuba.__version__

__all__ = ["Error", "MapError", "ParameterError", "DocumentError", "CalculationError",
           "FieldMap", "Parameters", "Results", "CoilTable", "Correction", "TrimFit", "read_map",
           "parameters", "run", "load", "orbits", "map_diff", "isochronise", "trim_fit"]


class Error(Exception):
    """A refusal or failure of ZUBA. str() is the line zuba-cli prints ("Caption: text");
    .caption and .text are its parts."""

    def __init__(self, text, caption="Error"):
        super().__init__(f"{caption}: {text}")
        self.text = text
        self.caption = caption


class MapError(Error):
    """A field map (file, arrays or *.sdf output) refused."""


class ParameterError(Error, ValueError):
    """Run parameters refused: an unknown name, a malformed value, a failed check."""


class DocumentError(Error):
    """A document, report or values file that could not be read or written."""


class CalculationError(Error):
    """A run that failed (as zuba-cli exits 3): an energy whose search failed, a precise run in
    which no energy closed."""


_abc.Mapping.register(Parameters)


def _field_text(name, value):
    """The text of a run field's value as --set takes it."""
    if isinstance(value, (bool, _np.bool_)):
        raise TypeError(f"{name}: a number or str, not bool")
    if isinstance(value, str):
        return value
    if isinstance(value, _numbers.Integral):
        return str(int(value))
    if isinstance(value, _numbers.Real):
        return repr(float(value))
    raise TypeError(f"{name}: a number or str, not {type(value).__name__}")


def _changes(changes):
    return [(name, _field_text(name, value)) for name, value in changes.items()]


def parameters(mode=None, machine=None, **changes):
    """The run parameters of an operating mode ("TVK-310: p", the default, or "AVF: 14N5") or of
    a machine file (machine=PATH, as zuba-cli --machine), with changes by the names zuba-cli run
    --set takes, in its units (Parameters.units): EkBegin/EkEnd/dEk in MeV, Frf in MHz, m0 in u,
    h in rad, ... Completed and checked as zuba-cli does: ValueError for an unknown mode,
    ParameterError for an unknown name, a refused value or a refused machine file.

        p = zuba.parameters("TVK-310: p", EkEnd=30.6, dEk=1.0)
        q = p.replace(Frf=26.3)                 # a new, checked set
        ring = zuba.parameters(machine="examples/ring-590.json")
        r = zuba.run(ring.read_map(), ring)     # the machine's map, closure and gain per turn
    """
    if mode is not None and machine is not None:
        raise ValueError("mode and machine: give one of them (a machine file holds its mode)")
    if mode is None:
        mode = "TVK-310: p"
    if not isinstance(mode, str):
        raise TypeError("mode: a str, the label of an operating mode")
    if machine is not None and not isinstance(machine, (str, _os.PathLike)):
        raise TypeError("machine: the path of a machine file")
    return _zuba._parameters(mode, None if machine is None else _os.fspath(machine),
                             _changes(changes))


def _replace(self, **changes):
    """A new parameter set: these with the changes, completed and checked again."""
    return _zuba._replace(self, _changes(changes))


Parameters.replace = _replace
Parameters.read_map = lambda self: _zuba._machine_map(self)
Parameters.read_map.__doc__ = "The machine file's map, read as the file says (ValueError without one)."
Parameters.items = lambda self: [(k, self[k]) for k in self.keys()]
Parameters.values = lambda self: [self[k] for k in self.keys()]
Parameters.get = lambda self, key, default=None: self[key] if key in self else default
Parameters.__eq__ = lambda self, other: (isinstance(other, _abc.Mapping)
                                         and dict(self.items()) == dict(other.items()))


def run(m, p, closure=None, threads=None, gain_per_turn=None, progress=None, tolerance=None,
        checks=True):
    """Closes the orbit of every energy of the parameters p on the field map m.

    closure: "standard" (the step-and-bisect search) or "precise" (with tunes); None: the
    parameters' own (a machine file's), else standard. threads: energies in parallel (None: the
    machine's hardware threads); the numbers do not depend on it. gain_per_turn: MeV per turn for
    the phase slip (None: the parameters' own, else 0.1). progress(done, total) is called on the
    calling thread between energies. tolerance: the error bound of each integration step of the
    precise closure (zuba-cli --tolerance, 1e-14 to 1e-4; None: the parameters' own, else the
    command line's default); ParameterError outside the range. checks: the run is checked for
    implausible settings first (Frf, H, N, ChargeSign, energies against the map) and the lines
    zuba-cli run prints go first into r.warnings; checks=False skips them (--no-checks).

    The GIL is released while the energies run; Ctrl+C stops the run after the energies in
    progress and raises KeyboardInterrupt. Raises CalculationError when the run fails or, with
    the precise closure, when no energy closes (an energy that does not close is no error: its
    status and reason say so).
    """
    if not isinstance(m, FieldMap):
        raise TypeError("m: a zuba.FieldMap (zuba.read_map or zuba.FieldMap(r, theta, b))")
    if not isinstance(p, Parameters):
        raise TypeError("p: zuba.Parameters (zuba.parameters(...))")
    if closure is None:
        closure = p.closure or "standard"
    if not isinstance(closure, str):
        raise TypeError("closure: \"standard\" or \"precise\"")
    return _zuba._run(m, p, closure, threads, gain_per_turn, tolerance, bool(checks), progress)


def _field(self, r, theta, reference=False):
    """B (T) at radius r (m) and azimuth theta (rad); r and theta broadcast as NumPy arrays do
    (two scalars give a float). The values are those the orbit searches use (the map's
    constant-time patches); with reference=True the per-call evaluation of `zuba-cli field`
    (a thousand times slower), equal to it to the last bit. The two agree to about 1e-15 T. MapError for a point the interpolation refuses (outside the map's radii)."""
    try:
        ra = _np.asarray(r, dtype=_np.float64)
        ta = _np.asarray(theta, dtype=_np.float64)
    except (TypeError, ValueError) as e:
        raise TypeError(f"r and theta: numbers or arrays of numbers ({e})") from None
    try:
        rb, tb = _np.broadcast_arrays(ra, ta)
    except ValueError:
        raise ValueError(f"r and theta: shapes {ra.shape} and {ta.shape} do not broadcast") from None
    b = self._field(_np.ascontiguousarray(rb).ravel(), _np.ascontiguousarray(tb).ravel(),
                    bool(reference))
    if rb.ndim == 0:
        return float(b[0])
    return b.reshape(rb.shape)


FieldMap.field = _field


def read_map(path, format="auto", replicate=None, mirror=False, negate=False, reverse=False,
             r_unit=None, theta_unit=None, b_unit=None):
    """Reads a field map file of any format zuba-cli reads (format "auto", "sdf", "polar",
    "records", "table" or "polar-mesh"), with the command line's reading options: replicate=N completes one
    sector of N, mirror half a sector, negate flips the sign, reverse runs the azimuth the other
    way; r_unit ("m", "mm"), theta_unit ("deg", "rad") and b_unit ("T", "Gs", "kG") for a table
    without a header. MapError when the file is refused, with zuba-cli's text."""
    return _zuba.read_map(_path(path, "path"), format, replicate, mirror, negate, reverse,
                          r_unit, theta_unit, b_unit)


def load(path):
    """Reads a document (*.zub) as a Results object (DocumentError when refused)."""
    return _zuba.load(_path(path, "path"))


def orbits(doc_or_results, theta_deg=0.0, grid_deg=None):
    """The closed orbits of a Results object or of a document (*.zub path) at the azimuth
    theta_deg (degrees in [0, 360), the map's frame), as `zuba-cli orbits DOC --theta --grid`
    gives them: a dict of the table's columns Ek_MeV, theta_deg, R_m, pr_bg, u, Rmean_m, xc_m,
    yc_m (float64 arrays, NaN where an energy did not close) and status (list of str); with
    grid_deg=D, one row per energy and azimuth 0, D, ..., 360 - D. ValueError for an azimuth or
    step the command line refuses (its text); DocumentError for a document without closed orbits.
    The same as r.orbit_at(theta_deg, grid_deg)."""
    if not isinstance(doc_or_results, Results):
        doc_or_results = _path(doc_or_results, "doc_or_results")
    return _zuba._orbits(doc_or_results, theta_deg, grid_deg)


def _save(self, path, format="sdf", unit=None, dtheta=None):
    """Writes the map as `zuba-cli convert MAP --to FORMAT [--unit] [--dtheta] -o path` writes
    it, the same bytes: format "sdf" (unit "Gs" or "T", None: the map's own, Gs for kG; dtheta:
    the azimuth step to resample to where the map's own has no three-decimal form), "polar"
    (kG), "table" (R_m theta_deg B_T) or "polar-mesh" (kG). A format that cannot hold the mesh is
    refused with the command line's text (MapError), never resampled. Returns what was written:
    format, n_r, n_theta, and for *.sdf unit, resampled, largest_change_t."""
    if not isinstance(format, str):
        raise TypeError("format: \"sdf\", \"polar\", \"table\" or \"polar-mesh\"")
    return self._save(_path(path, "path"), format, unit, dtheta)


def _save_sdf(self, path, unit="Gs", dtheta=None):
    """m.save(path, "sdf", unit, dtheta) with gauss by default."""
    return self._save(_path(path, "path"), "sdf", unit, dtheta)


FieldMap.save = _save
FieldMap.save_sdf = _save_sdf


def map_diff(a, b, sectors=None):
    """Map a minus map b on a's mesh, as `zuba-cli map-diff A B [--sectors N]` gives it: a dict of
    the columns of its table and JSON per radius of a (r_m, delta_mean_t, delta_field_index,
    delta_a1_t, delta_a2_t, delta_an_t: float64 arrays), sectors (the N of delta_an_t; None: the
    number of sectors a's harmonics show), rms_t, max_abs_t, max_at ({"r_m", "theta_deg"}) and
    difference (a FieldMap in T on a's mesh). a and b are FieldMaps or map paths (read as
    read_map reads them). MapError where a's mesh leaves b's, with the command line's text."""
    a, b = (x if isinstance(x, FieldMap) else read_map(x) for x in (a, b))
    return _zuba._map_diff(a, b, sectors)


def _path(path, name):
    if not isinstance(path, (str, _os.PathLike)):
        raise TypeError(f"{name}: a file path, not {type(path).__name__}")
    return _os.fspath(path)


class _Search:
    """What a search gives back; every attribute is a plain value or an array owned by Python."""

    def __init__(self, members):
        self._sdf = members.pop("_sdf")
        self.__dict__.update(members)

    def save_sdf(self, path):
        """Writes the corrected map as zuba-cli writes it with -o (values to 1e-5 T)."""
        _zuba._write_bytes(_path(path, "path"), self._sdf)

    def __repr__(self):
        return (f"<zuba.{type(self).__name__} {self.termination}, isochronism "
                f"{self.isochronism_before:.3e} -> {self.isochronism_after:.3e}>")


class Correction(_Search):
    """The isochronous correction of zuba.isochronise: r_m and delta_b_t (T per radius node, the
    same at every azimuth), isochronism_before/after (worst |F0 H/Frf - 1|), phase_deg_before/
    after, iterations, excluded_energies (MeV), converged, target, termination, residuals (per
    energy: Ek_MeV, isochronism_before, isochronism_after, excluded), lost_in_iteration,
    tolerance (of the precise closure the search closed its orbits with), knots_m, span_m, largest_delta_b_t, total_variation_t, range_t, warnings, and corrected_map
    (a FieldMap: the map as zuba-cli isochronise -o writes it, values to 1e-5 T)."""


class TrimFit(_Search):
    """The trim-coil fit of zuba.trim_fit: currents ({name: A}), isochronism_before/after,
    phase_deg_before/after, condition_number, at_limit and no_effect (coil names),
    excluded_energies, iterations, converged, target, termination, residuals, lost_in_iteration,
    tolerance, warnings, and corrected_map (the map as zuba-cli trim-fit -o writes it)."""

    def __init__(self, members):
        self._currents_table = members.pop("_currents_table")
        super().__init__(members)

    def write_currents(self, path):
        """Writes the coil table with a last row of the currents, as zuba-cli trim-fit
        --currents-out does."""
        _zuba._write_bytes(_path(path, "path"), self._currents_table.encode())


def _check_run_arguments(m, p):
    if not isinstance(m, FieldMap):
        raise TypeError("m: a zuba.FieldMap (zuba.read_map or zuba.FieldMap(r, theta, b))")
    if not isinstance(p, Parameters):
        raise TypeError("p: zuba.Parameters (zuba.parameters(...))")


def isochronise(m, p, gain_per_turn=None, threads=None, progress=None, tolerance=None):
    """The change of the mean field dB(R) that makes every energy of p revolve at Frf/H, from the
    precise closed orbits on m, as zuba-cli isochronise finds it. progress(iteration, worst) is
    called on the calling thread after iterations; Ctrl+C stops the search (KeyboardInterrupt).
    tolerance: the precise closure's, as in zuba.run. CalculationError when no energy closes on
    the map."""
    _check_run_arguments(m, p)
    return Correction(_zuba._isochronise(m, p, gain_per_turn, threads, tolerance, progress))


def trim_fit(m, p, coils, limit=None, target="isochronism", gain_per_turn=None, threads=None,
             exclude=None, weights=None, progress=None, tolerance=None):
    """The currents of trim coils that make the machine closest to isochronous (target
    "isochronism") or keep the RF phase closest to zero ("phase"), as zuba-cli trim-fit finds
    them. coils: a coil-table path or a zuba.CoilTable; limit: None, a current (A) for every coil
    or {name: A}; exclude: [(lo_mev, hi_mev), ...] energies left out; weights:
    {(lo_mev, hi_mev): w}; tolerance: the precise closure's, as in zuba.run."""
    _check_run_arguments(m, p)
    if not isinstance(coils, CoilTable):
        coils = _path(coils, "coils")
    return TrimFit(_zuba._trim_fit(m, p, coils, limit, target, gain_per_turn, threads, tolerance,
                                   exclude, weights, progress))
