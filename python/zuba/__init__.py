"""ZUBA from Python: field maps, closed orbits, tunes and corrections as NumPy arrays.

Every number comes from the calculation library that zuba-cli runs (the extension zuba._zuba);
this package only converts arguments and results. See docs/PYTHON.md.

    import zuba
    m = zuba.read_map("examples/tvk310-p.sdf")
    r = zuba.run(m, zuba.parameters("TVK-310: p"), closure="precise")
    r.values["nu_z"]
"""

import collections.abc as _abc
import numbers as _numbers

import numpy as _np

from . import _zuba
from ._zuba import FieldMap, Parameters, Results, read_map, load

__version__ = _zuba.__version__

__all__ = ["Error", "MapError", "ParameterError", "DocumentError", "CalculationError",
           "FieldMap", "Parameters", "Results", "read_map", "parameters", "run", "load"]


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


def parameters(mode="TVK-310: p", **changes):
    """The run parameters of an operating mode ("TVK-310: p" or "AVF: 14N5") with changes by
    the names zuba-cli run --set takes, in its units (Parameters.units): EkBegin/EkEnd/dEk in
    MeV, Frf in MHz, m0 in u, h in rad, ... Completed and checked as zuba-cli does: ValueError
    for an unknown mode, ParameterError for an unknown name or a refused value.

        p = zuba.parameters("TVK-310: p", EkEnd=30.6, dEk=1.0)
        q = p.replace(Frf=26.3)   # a new, checked set
    """
    if not isinstance(mode, str):
        raise TypeError("mode: a str, the label of an operating mode")
    return _zuba._parameters(mode, _changes(changes))


def _replace(self, **changes):
    """A new parameter set: these with the changes, completed and checked again."""
    return _zuba._replace(self, _changes(changes))


Parameters.replace = _replace
Parameters.items = lambda self: [(k, self[k]) for k in self.keys()]
Parameters.values = lambda self: [self[k] for k in self.keys()]
Parameters.get = lambda self, key, default=None: self[key] if key in self else default
Parameters.__eq__ = lambda self, other: (isinstance(other, _abc.Mapping)
                                         and dict(self.items()) == dict(other.items()))


def run(m, p, closure=None, threads=None, gain_per_turn=None, progress=None):
    """Closes the orbit of every energy of the parameters p on the field map m.

    closure: "standard" (the step-and-bisect search) or "precise" (with tunes); None: the
    parameters' own (a machine file's), else standard. threads: energies in parallel (None: the
    machine's hardware threads); the numbers do not depend on it. gain_per_turn: MeV per turn for
    the phase slip (None: the parameters' own, else 0.1). progress(done, total) is called on the
    calling thread between energies.

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
    return _zuba._run(m, p, closure, threads, gain_per_turn, progress)


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
