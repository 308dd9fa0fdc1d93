"""Runs, their results and files against zuba-cli's: the same bytes, the same numbers."""
import math
import os
import signal
import threading
import time

import numpy as np
import pytest

import zuba
from conftest import EXAMPLES, RING, cli, sets

CASES = [  # map, mode, changes, closure
    ("tvk310-p.sdf", "TVK-310: p", {"EkEnd": 30.6, "dEk": 3}, "standard"),
    ("tvk310-p.sdf", "TVK-310: p", {"EkEnd": 30.6, "dEk": 3}, "precise"),
    ("avf-14n5.sdf", "AVF: 14N5", {"dEk": 9}, "precise"),
    ("ring-590.sdf", "TVK-310: p", RING, "precise"),
]


def read_values(path):
    lines = path.read_text().splitlines()
    names = lines[0].split("\t")
    rows = [line.split("\t") for line in lines[1:]]
    def column(k):
        cells = [row[k] for row in rows]
        try:
            return np.array([math.nan if c in ("", "unstable") else float(c) for c in cells])
        except ValueError:
            return cells  # a column of words (the status)
    return {n: column(k) for k, n in enumerate(names)}


@pytest.mark.parametrize("name,mode,changes,closure", CASES)
def test_run_gives_the_cli_files_and_numbers(tmp_path, name, mode, changes, closure):
    path = str(EXAMPLES / name)
    cli("run", "--map", path, "--mode", mode, *sets(changes), "--closure", closure, "--quiet",
        "--values", tmp_path / "cli.tsv", "--report", tmp_path / "cli.txt",
        "--save", tmp_path / "cli.zub")
    r = zuba.run(zuba.read_map(path), zuba.parameters(mode, **changes), closure=closure, threads=2)
    r.write_values(str(tmp_path / "py.tsv"))
    r.write_report(str(tmp_path / "cli.txt.py"))
    r.save(str(tmp_path / "py.zub"))
    assert (tmp_path / "py.tsv").read_bytes() == (tmp_path / "cli.tsv").read_bytes()
    assert (tmp_path / "py.zub").read_bytes() == (tmp_path / "cli.zub").read_bytes()
    # The report's first line is its file name.
    report = (tmp_path / "cli.txt.py").read_bytes().split(b"\r\n", 1)
    assert report[0] == b"cli.txt.py"
    assert report[1] == (tmp_path / "cli.txt").read_bytes().split(b"\r\n", 1)[1]
    expected = read_values(tmp_path / "cli.tsv")
    assert list(r.values) == list(expected)
    for column, values in expected.items():
        if isinstance(values, list):
            assert r.values[column] == values, column
        else:
            np.testing.assert_array_equal(r.values[column], values, err_msg=column)
    assert r.closure == closure and len(r) == len(expected["Ek_J"])
    # A document reads back as the same results.
    loaded = zuba.load(str(tmp_path / "py.zub"))
    np.testing.assert_array_equal(loaded.values["F0_Hz"], r.values["F0_Hz"])
    assert loaded.status == r.status and loaded.parameters["Frf"] == r.parameters["Frf"]


def test_a_map_of_arrays_runs_as_its_file(tvk):
    p = zuba.parameters(EkEnd=12.6, dEk=3)
    again = zuba.FieldMap(tvk.r, tvk.theta, tvk.b)
    assert (again.path, again.format, again.unit) == (None, "array", "T")
    for closure in ("standard", "precise"):
        a, b = zuba.run(tvk, p, closure=closure), zuba.run(again, p, closure=closure)
        for column in a.values:
            assert np.array_equal(a.values[column], b.values[column], equal_nan=True) \
                if not isinstance(a.values[column], list) else a.values[column] == b.values[column]
        np.testing.assert_array_equal(a.orbit(-1)["R_m"], b.orbit(-1)["R_m"])


def test_orbit_samples_and_status():
    m = zuba.read_map(str(EXAMPLES / "tvk310-p.sdf"))
    r = zuba.run(m, zuba.parameters(EkEnd=6.6, dEk=3), closure="precise")
    assert r.status == ["closed"] * 3 and r.reason == [""] * 3
    orbit = r.orbit(1)
    assert set(orbit) == {"R_m", "vR", "theta_rad", "omega", "tau"}
    # One turn of the closed orbit, whose time-mean radius the values give.
    assert orbit["theta_rad"][-1] - orbit["theta_rad"][0] == pytest.approx(2 * math.pi, rel=1e-3)
    assert np.mean(orbit["R_m"]) == pytest.approx(r.values["Rmn_m"][1], rel=1e-3)
    with pytest.raises(IndexError):
        r.orbit(3)


def test_two_threads_run_at_once_and_agree(tvk):
    p = zuba.parameters(EkEnd=30.6, dEk=1.5)
    alone = zuba.run(tvk, p, threads=1).values["F0_Hz"]
    got, ticks = [], [0]

    def work():
        got.append(zuba.run(tvk, p, threads=1).values["F0_Hz"])

    workers = [threading.Thread(target=work) for _ in range(2)]
    for w in workers:
        w.start()
    while any(w.is_alive() for w in workers):
        ticks[0] += 1  # Python runs on while both runs go on: the GIL is free
        time.sleep(0.001)
    assert len(got) == 2 and ticks[0] > 20
    for values in got:
        np.testing.assert_array_equal(values, alone)


def test_progress_and_ctrl_c(tvk):
    seen = []
    zuba.run(tvk, zuba.parameters(EkEnd=12.6, dEk=0.6), threads=1,
             progress=lambda done, total: seen.append((done, total, threading.get_ident())))
    assert seen and seen[-1] == (21, 21, threading.get_ident()) and seen == sorted(seen)
    assert {thread for _, _, thread in seen} == {threading.get_ident()}
    # Ctrl+C in the middle of a run of 2073 energies (about 2 s): KeyboardInterrupt before its
    # end, nothing returned.
    ring = zuba.read_map(str(EXAMPLES / "ring-590.sdf"))
    p = zuba.parameters(**dict(RING, dEk=0.25))
    seen.clear()
    timer = threading.Timer(0.3, lambda: os.kill(os.getpid(), signal.SIGINT))
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        zuba.run(ring, p, threads=1, closure="precise",
                 progress=lambda done, total: seen.append((done, total)))
    timer.join()
    assert not seen or seen[-1][0] < seen[-1][1] == 2073
    # A progress callback that raises stops the run with its exception.
    def refuse(done, total):
        raise RuntimeError("enough")
    with pytest.raises(RuntimeError, match="enough"):
        zuba.run(ring, p, threads=1, progress=refuse)


def test_tolerance_and_checks_as_the_cli(tmp_path, tvk):
    # The first energy lies below the map: a warning before the run and an energy that fails.
    changes = {"EkBegin": 0.01, "EkEnd": 9.01, "dEk": 3}
    p = zuba.parameters(**changes)
    values = {}
    for tolerance, checks in [(1e-7, True), (None, False), (None, True)]:
        options = (["--tolerance", tolerance] if tolerance else []) + ([] if checks else ["--no-checks"])
        done = cli("run", "--map", tvk.path, *sets(changes), "--closure", "precise", "--quiet",
                   "--values", tmp_path / "cli.tsv", *options)
        r = zuba.run(tvk, p, closure="precise", tolerance=tolerance, checks=checks)
        r.write_values(str(tmp_path / "py.tsv"))
        assert (tmp_path / "py.tsv").read_bytes() == (tmp_path / "cli.tsv").read_bytes()
        assert "\n".join(r.warnings) == done.stderr.rstrip("\n")
        assert r.warnings[0].startswith("Warning: ") == checks
        values[tolerance] = r.values["F0_Hz"][1:]
        # The results name the tolerance they were closed to, also from their document.
        r.save(str(tmp_path / "py.zub"))
        assert r.tolerance == zuba.load(str(tmp_path / "py.zub")).tolerance == (tolerance or 1e-10)
    standard = zuba.run(tvk, zuba.parameters(EkEnd=12.6, dEk=3))
    standard.save(str(tmp_path / "standard.zub"))
    assert standard.tolerance is None and zuba.load(str(tmp_path / "standard.zub")).tolerance is None
    assert not np.array_equal(values[1e-7], values[None])  # the tolerance reaches the closure
    done = cli("run", "--map", tvk.path, "--tolerance", "1e-3", check=False)
    assert done.returncode == 2
    with pytest.raises(zuba.ParameterError) as raised:
        zuba.run(tvk, p, closure="precise", tolerance=1e-3)
    assert str(raised.value) == done.stderr.strip()
    with pytest.raises(TypeError, match="tolerance"):
        zuba.isochronise(tvk, p, tolerance="1e-9")
