"""Field maps against zuba-cli's map commands: the field, the harmonics, the *.sdf file."""
import math

import numpy as np
import pytest

import zuba
from conftest import EXAMPLES, cli


def test_field_equals_the_cli_and_broadcasts(tvk):
    points = [(0.3, 0.5), (0.05, 0.0), (0.7499, 6.2), (0.42, -1.0), (0.61, 12.0)]
    for r, theta in points:
        expected = float(cli("field", tvk.path, r, theta).stdout)
        assert tvk.field(r, theta, reference=True) == expected
        # The orbit searches' patches: the same value to a few units in the last place.
        assert abs(tvk.field(r, theta) - expected) <= 1e-14
    r = np.array([[0.3], [0.4]])
    theta = np.linspace(0, 2 * math.pi, 5)
    grid = tvk.field(r, theta)
    assert grid.shape == (2, 5) and grid[1, 3] == tvk.field(0.4, theta[3])
    assert isinstance(tvk.field(0.3, 0.5), float)
    # Many points share the threads: the same numbers as one at a time.
    many = np.random.default_rng(1).uniform(0.05, 0.75, 100_000)
    b = tvk.field(many, 0.7)
    picks = (0, 4711, 50_001, 99_999)
    assert [b[k] for k in picks] == [tvk.field(many[k], 0.7) for k in picks]
    slow = tvk.field(many[:2000], 0.7, reference=True)
    assert np.all(np.abs(b[:2000] - slow) <= 1e-14) and np.mean(b[:2000] == slow) > 0.3
    with pytest.raises(zuba.MapError, match="Radius value error!"):
        tvk.field(np.append(many, 0.9), 0.7)


def test_map_arrays_are_read_only_views(tvk):
    assert tvk.b.shape == (71, 180) and tvk.r[0] == 0.05 and tvk.theta[1] == pytest.approx(math.pi / 90)
    with pytest.raises(ValueError):
        tvk.b[0, 0] = 1.0
    b = tvk.b
    del tvk  # the view keeps its map alive
    assert b[70, 179] == b[70, 179]


def test_harmonics_equal_the_cli(tvk):
    lines = cli("harmonics", tvk.path, "--sectors", 4).stdout.splitlines()
    names = lines[0].split("\t")
    h = tvk.harmonics(4)
    assert list(h) == names
    for k, name in enumerate(names):
        np.testing.assert_array_equal(h[name], [float(line.split("\t")[k]) for line in lines[1:]])


@pytest.mark.parametrize("unit", ["Gs", "T"])
def test_save_sdf_equals_convert(tmp_path, tvk, unit):
    cli("convert", tvk.path, "--unit", unit, "-o", tmp_path / "cli.sdf", "--quiet")
    tvk.save_sdf(str(tmp_path / "py.sdf"), unit=unit)
    assert (tmp_path / "py.sdf").read_bytes() == (tmp_path / "cli.sdf").read_bytes()
    again = zuba.read_map(str(tmp_path / "py.sdf"))
    np.testing.assert_allclose(again.b, tvk.b, atol=1e-5)


def test_reading_options_as_the_cli(tmp_path, tvk):
    # One sector of four as a table in degrees and gauss, completed by replicate=4.
    rows = ["r_m,theta_deg,bz_Gs"]
    for i, r in enumerate(tvk.r):
        for k in range(45):
            rows.append(f"{r!r},{2 * k},{tvk.b[i, k] * 1e4!r}")
    (tmp_path / "sector.csv").write_text("\n".join(rows) + "\n")
    m = zuba.read_map(str(tmp_path / "sector.csv"), replicate=4, negate=True)
    assert m.format == "table" and m.b.shape == (71, 180)
    np.testing.assert_allclose(m.b[:, 45:90], -tvk.b[:, :45], rtol=1e-15)
    for r, theta in [(0.33, 2.0), (0.61, 5.5)]:
        expected = cli("field", m.path, r, theta, "--replicate", 4, "--negate").stdout
        assert m.field(r, theta, reference=True) == float(expected)
