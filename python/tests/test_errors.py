"""Every refusal as its exception, with zuba-cli's text; wrong Python values as TypeError or
ValueError naming the argument."""
import math

import numpy as np
import pytest

import zuba
from conftest import EXAMPLES, cli

R = np.linspace(0.1, 0.5, 5)
T = np.arange(8) * math.pi / 4
B = np.ones((5, 8))


def refusals(tmp_path):
    bad = tmp_path / "bad.zub"
    bad.write_bytes(b"not a document")
    return [  # call, exception, text in str()
        (lambda: zuba.read_map(str(tmp_path / "none.sdf")), zuba.MapError, "Can not Open File!"),
        (lambda: zuba.read_map(str(EXAMPLES / "trim-coils.tsv"), format="table"), zuba.MapError,
         "trim-coils.tsv: line 1"),
        (lambda: zuba.read_map("x.sdf", format="csv"), ValueError, "format: \"csv\""),
        (lambda: zuba.read_map("x.sdf", replicate=0), ValueError, "replicate"),
        (lambda: zuba.read_map("x.sdf", mirror=True), ValueError, "--mirror"),
        (lambda: zuba.FieldMap(R, T, B[:, :7]), ValueError, "b: shape (5, 7)"),
        (lambda: zuba.FieldMap(R, T, np.ones(40)), ValueError, "b: a 2-dimensional"),
        (lambda: zuba.FieldMap(R, T, np.where(B > 0, np.nan, 0)), zuba.MapError, "b[0, 0] is not"),
        (lambda: zuba.FieldMap(R[::-1], T, B), zuba.MapError, "r: the radii do not increase"),
        (lambda: zuba.FieldMap(R - 0.2, T, B), zuba.MapError, "r: the radius -0.1 m is negative"),
        (lambda: zuba.FieldMap(R, T + 7, B), zuba.MapError, "lies outside"),
        (lambda: zuba.FieldMap(R, T * 0.9, B), zuba.MapError, "theta: 8 azimuths"),
        (lambda: zuba.FieldMap(R, T + [0, 0, 0.1, 0, 0, 0, 0, 0], B), zuba.MapError, "theta[2]"),
        (lambda: zuba.FieldMap(R, "x", B), TypeError, "theta"),
        (lambda: zuba.parameters("TVK-310"), ValueError, "mode: unknown label \"TVK-310\""),
        (lambda: zuba.parameters(Frf="fast"), zuba.ParameterError, "Frf: \"fast\" is not"),
        (lambda: zuba.parameters(Frff=1), zuba.ParameterError, "unknown parameter \"Frff\""),
        (lambda: zuba.parameters(N=True), TypeError, "N: a number"),
        (lambda: zuba.parameters(EkEnd=0.1), zuba.ParameterError, "EkEnd"),
        (lambda: zuba.load(str(bad)), zuba.DocumentError, "bad.zub"),
        (lambda: zuba.run(zuba.FieldMap(R, T, B), zuba.parameters(), closure="exact"),
         ValueError, "closure: \"exact\""),
        (lambda: zuba.run(zuba.FieldMap(R, T, B), zuba.parameters(), threads=0), ValueError,
         "threads"),
        (lambda: zuba.run("map", zuba.parameters()), TypeError, "m: a zuba.FieldMap"),
        # A field far too weak for the energies: no orbit fits on the map.
        (lambda: zuba.run(zuba.FieldMap(R, T, B * 0.01), zuba.parameters(), closure="precise"),
         zuba.CalculationError, ""),
        (lambda: zuba.run(zuba.FieldMap(R, T, B * 0.01), zuba.parameters()),
         zuba.CalculationError, ""),
    ]


def test_refusals_raise_their_exception(tmp_path):
    for call, kind, text in refusals(tmp_path):
        with pytest.raises(kind) as raised:
            call()
        assert text in str(raised.value), (kind, text, str(raised.value))
        if isinstance(raised.value, zuba.Error):
            assert str(raised.value) == f"{raised.value.caption}: {raised.value.text}"


def test_errors_print_as_the_cli(tmp_path):
    # The line of the command line's refusal is str() of the exception.
    for args, call in [
        (["run", "--map", tmp_path / "none.sdf", "--quiet"],
         lambda: zuba.read_map(str(tmp_path / "none.sdf"))),
        (["run", "--map", EXAMPLES / "tvk310-p.sdf", "--set", "EkEnd=0.1", "--quiet"],
         lambda: zuba.parameters(EkEnd=0.1)),
        (["field", EXAMPLES / "tvk310-p.sdf", "0.9", "0"],
         lambda: zuba.read_map(str(EXAMPLES / "tvk310-p.sdf")).field(0.9, 0)),
    ]:
        done = cli(*args, check=False)
        assert done.returncode == 2
        with pytest.raises(zuba.Error) as raised:
            call()
        assert str(raised.value) == done.stderr.strip()
