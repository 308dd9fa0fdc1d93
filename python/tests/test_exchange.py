"""Maps written in every format, the difference of two maps and closed orbits at an azimuth,
against zuba-cli convert, map-diff and orbits: the same bytes, columns and refusals."""
import math
import re

import numpy as np
import pytest

import zuba
from conftest import EXAMPLES, cli

TVK = str(EXAMPLES / "tvk310-p.sdf")
DISTURBED = str(EXAMPLES / "tvk310-p-disturbed.sdf")


def assert_same_columns(got, table):
    """got holds the columns of the tab-separated table (lines starting with '#' left out)."""
    rows = [line.split("\t") for line in table.splitlines() if not line.startswith("#")]
    assert list(got)[:len(rows[0])] == rows[0]
    for name, cells in zip(rows[0], zip(*rows[1:])):
        expected = list(cells) if name == "status" else [float(c) if c else math.nan for c in cells]
        np.testing.assert_array_equal(got[name], expected, err_msg=name)


@pytest.mark.parametrize("to,unit", [("sdf", None), ("sdf", "T"), ("polar", None),
                                     ("table", None), ("polar-mesh", None)])
def test_save_writes_the_bytes_of_convert(tmp_path, tvk, to, unit):
    cli("convert", TVK, "--to", to, *(["--unit", unit] if unit else []), "-o", tmp_path / "cli",
        "--quiet")
    written = tvk.save(tmp_path / "py", format=to, unit=unit)
    assert (tmp_path / "py").read_bytes() == (tmp_path / "cli").read_bytes()
    assert (written["format"], written["n_r"], written["n_theta"]) == (to, 71, 180)


def test_save_refuses_what_convert_refuses(tmp_path, tvk):
    # A turn of 1080 azimuths (1/3 degree): the polar map holds it, a .sdf header does not.
    theta = np.arange(1080) * 2 * math.pi / 1080
    fine = zuba.FieldMap(tvk.r, theta, tvk.field(tvk.r[:, None], theta[None, :]))
    fine.save(tmp_path / "third.polar", format="polar")
    m = zuba.read_map(tmp_path / "third.polar")
    done = cli("convert", m.path, "-o", tmp_path / "cli.sdf", check=False)
    assert done.returncode == 2
    with pytest.raises(zuba.MapError) as raised:
        m.save(tmp_path / "py.sdf")
    assert str(raised.value) == done.stderr.strip() and not (tmp_path / "py.sdf").exists()
    # Resampled where a step is given: the same bytes.
    cli("convert", m.path, "--dtheta", 0.5, "-o", tmp_path / "cli.sdf", "--quiet")
    assert m.save(tmp_path / "py.sdf", dtheta=0.5)["resampled"]
    assert (tmp_path / "py.sdf").read_bytes() == (tmp_path / "cli.sdf").read_bytes()
    with pytest.raises(ValueError, match="unit and dtheta apply to a .sdf map"):
        m.save(tmp_path / "x", format="table", unit="T")
    with pytest.raises(ValueError, match="format: \"records\""):
        m.save(tmp_path / "x", format="records")


def test_map_diff_equals_the_cli(tmp_path):
    expected = cli("map-diff", TVK, DISTURBED, "-o", tmp_path / "diff.tsv").stdout
    d = zuba.map_diff(zuba.read_map(TVK), DISTURBED)
    assert_same_columns(d, expected)
    # The summary lines: sectors, rms_t, max_abs_t at r_m, theta_deg.
    summary = re.findall(r"-?\d[\d.e+-]*", "".join(expected.splitlines()[-3:]))
    assert [float(x) for x in summary] == [d["sectors"]] * 2 + [
        d["rms_t"], d["max_abs_t"], d["max_at"]["r_m"], d["max_at"]["theta_deg"]]
    # The difference as a map: the table the command writes, read back exactly.
    np.testing.assert_array_equal(d["difference"].b, zuba.read_map(tmp_path / "diff.tsv").b)
    # Another harmonic, chosen.
    assert_same_columns(zuba.map_diff(TVK, DISTURBED, sectors=8),
                        cli("map-diff", TVK, DISTURBED, "--sectors", 8).stdout)
    # Maps that do not overlap: the command's refusal.
    ring = str(EXAMPLES / "ring-590.sdf")
    done = cli("map-diff", ring, TVK, check=False)
    assert done.returncode == 2
    with pytest.raises(zuba.MapError) as raised:
        zuba.map_diff(ring, TVK)
    assert str(raised.value) == done.stderr.strip()


def test_orbits_equal_the_cli(tmp_path):
    doc = tmp_path / "run.zub"
    cli("run", "--map", TVK, "--set", "EkEnd=12.6", "--set", "dEk=3", "--closure", "precise",
        "--quiet", "--save", doc)
    loaded = zuba.load(doc)
    for theta, grid, source in [(45.0, None, doc), (300, 30, loaded)]:
        args = ["--theta", theta] + (["--grid", grid] if grid else [])
        assert_same_columns(zuba.orbits(source, theta, grid), cli("orbits", doc, *args).stdout)
    # The command's refusals, the azimuth before the document.
    for args, call, kind in [
            (["--theta", 360], lambda: zuba.orbits(doc, 360.0), ValueError),
            (["--grid", 7], lambda: zuba.orbits(tmp_path / "none.zub", 0, 7), ValueError),
            ([], lambda: zuba.orbits(tmp_path / "none.zub"), zuba.DocumentError)]:
        done = cli("orbits", doc if args else tmp_path / "none.zub", *args, check=False)
        assert done.returncode == 2
        with pytest.raises(kind) as raised:
            call()
        assert done.stderr.strip() in (str(raised.value), "Error: " + str(raised.value))
