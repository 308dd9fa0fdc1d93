"""Isochronisation, the trim-coil fit, machine files and orbit coordinates against zuba-cli's."""
import json
import warnings

import numpy as np
import pytest

import zuba
from conftest import EXAMPLES, cli, sets

SHORT = {"EkEnd": 30.6, "dEk": 3}


def same(value, expected, what):
    if expected is None:
        assert np.isnan(value), what
    else:
        assert value == expected, what


@pytest.mark.parametrize("tolerance", [None, 1e-7])
def test_isochronise_equals_the_cli(tmp_path, tolerance):
    path = str(EXAMPLES / "tvk310-p-disturbed.sdf")
    options = ["--tolerance", tolerance] if tolerance else []
    out = json.loads(cli("isochronise", "--map", path, *sets(SHORT), "--json", *options,
                         "-o", tmp_path / "cli.sdf").stdout)
    seen = []
    c = zuba.isochronise(zuba.read_map(path), zuba.parameters(**SHORT), tolerance=tolerance,
                         progress=lambda i, worst: seen.append(i))
    # Progress after iterations (those that end between two looks come together).
    assert isinstance(c, zuba.Correction) and seen == sorted(set(seen)) and seen[-1] == c.iterations
    for key in ("isochronism_before", "isochronism_after", "phase_deg_before", "phase_deg_after",
                "iterations", "converged", "target", "termination", "total_variation_t"):
        assert getattr(c, key) == out[key], key
    assert c.tolerance == out["tolerance"] == (tolerance or 1e-10)
    assert list(c.r_m) == [x["r_m"] for x in out["correction"]]
    assert list(c.delta_b_t) == [x["delta_b_t"] for x in out["correction"]]
    for k, row in enumerate(out["residuals"]):
        same(c.residuals["isochronism_after"][k], row["isochronism_after"], k)
        assert bool(c.residuals["excluded"][k]) == row["excluded"]
    c.save_sdf(str(tmp_path / "py.sdf"))
    assert (tmp_path / "py.sdf").read_bytes() == (tmp_path / "cli.sdf").read_bytes()
    # The corrected map is the file as written: its run is isochronous as the CLI says.
    after = zuba.run(c.corrected_map, zuba.parameters(**SHORT), closure="precise",
                     tolerance=tolerance)
    assert np.nanmax(np.abs(after.values["isochronism"])) == out["isochronism_after_written"]


def test_trim_fit_equals_the_cli(tmp_path):
    path = str(EXAMPLES / "tvk310-p-disturbed.sdf")
    coils = str(EXAMPLES / "trim-coils.tsv")
    options = ["--limit", "30", "--limit", "T5=25", "--exclude-energy", "0:3",
               "--weight", "20:31=2", "--tolerance", "1e-8"]
    out = json.loads(cli("trim-fit", "--map", path, "--coils", coils, *sets(SHORT), *options,
                         "--json", "--currents-out", tmp_path / "cli.tsv").stdout)
    m, p = zuba.read_map(path), zuba.parameters(**SHORT)
    f = zuba.trim_fit(m, p, coils, limit={"T1": 30, "T2": 30, "T3": 30, "T4": 30, "T5": 25},
                      exclude=[(0, 3)], weights={(20, 31): 2}, tolerance=1e-8)
    assert f.currents == {x["name"]: x["current_A"] for x in out["currents"]}
    for key in ("isochronism_before", "isochronism_after", "condition_number", "iterations",
                "termination"):
        assert getattr(f, key) == out[key], key
    assert list(f.excluded_energies) == out["excluded_energies"]
    f.write_currents(str(tmp_path / "py.tsv"))
    assert (tmp_path / "py.tsv").read_bytes() == (tmp_path / "cli.tsv").read_bytes()
    # The same coils as arrays give the same fit.
    table = zuba.CoilTable(np.linspace(0, 0.8, 81), {
        name: np.array([float(line.split("\t")[k + 1]) for line in
                        (EXAMPLES / "trim-coils.tsv").read_text().splitlines()[1:]]) * 1e-4
        for k, name in enumerate(["T1", "T2", "T3", "T4", "T5"])})
    again = zuba.trim_fit(m, p, table, limit={"T1": 30, "T2": 30, "T3": 30, "T4": 30, "T5": 25},
                          exclude=[(0, 3)], weights={(20, 31): 2}, tolerance=1e-8)
    for name in f.currents:
        assert again.currents[name] == pytest.approx(f.currents[name], rel=1e-9, abs=1e-9)
    with pytest.raises(ValueError, match="limit: no coil named \"T9\""):
        zuba.trim_fit(m, p, coils, limit={"T9": 1})
    with pytest.raises(zuba.ParameterError):
        zuba.trim_fit(m, p, coils, exclude=[(0, 100)])


def test_machine_file_and_orbit_coordinates(tmp_path):
    # The bundled machine file with a tolerance of its own.
    fields = json.loads((EXAMPLES / "ring-590.json").read_text())
    fields["map"]["path"] = str(EXAMPLES / "ring-590.sdf")
    fields["tolerance"] = 1e-7
    machine = tmp_path / "ring.json"
    machine.write_text(json.dumps(fields))
    p = zuba.parameters(machine=machine, dEk=74)
    assert (p.closure, p.gain_per_turn, p["Frf"], p.mode, p.tolerance) == \
        ("precise", 0.1, 50.65, "Ring 590: p", 1e-7)
    r = zuba.run(p.read_map(), p)
    cli("run", "--machine", machine, "--set", "dEk=74", "--quiet", "--values", tmp_path / "c.tsv",
        "--save", tmp_path / "c.zub")
    r.write_values(str(tmp_path / "p.tsv"))
    assert (tmp_path / "p.tsv").read_bytes() == (tmp_path / "c.tsv").read_bytes()
    done = cli("orbits", tmp_path / "c.zub", "--theta", 22.5)
    table = done.stdout.splitlines()
    # The orbits followed in the run's field from their samples, as the command follows them in
    # the document's map: no warning on their accuracy from either.
    with warnings.catch_warnings(record=True) as warned:
        warnings.simplefilter("always")
        at = r.orbit_at(22.5)
    assert [str(w.message) for w in warned] == done.stderr.splitlines() == []
    names = table[0].split("\t")
    assert list(at) == names
    for k, name in enumerate(names):
        cells = [line.split("\t")[k] for line in table[1:]]
        if name == "status":
            assert at[name] == cells
        else:
            np.testing.assert_array_equal(at[name], [float(c) if c else np.nan for c in cells])
    with pytest.raises(ValueError, match="mode and machine"):
        zuba.parameters("TVK-310: p", machine=machine)
    with pytest.raises(zuba.ParameterError, match="nothing.json"):
        zuba.parameters(machine=str(tmp_path / "nothing.json"))
    with pytest.raises(ValueError):
        r.orbit_at(360.0)
    with pytest.raises(ValueError, match="name no map"):
        zuba.parameters().read_map()
