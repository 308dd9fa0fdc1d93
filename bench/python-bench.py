#!/usr/bin/python3
"""The figures of the Python module (docs/PYTHON.md, docs/PERFORMANCE.md), measured on this
machine: what a zuba.run call adds to the C++ run (against bench/run_call_bench), FieldMap.field
on a million points, and the tolerance study: one sample, 16 samples on 1 and on 2 workers.

    cmake --build --preset release --target zuba_python run_call_bench
    PYTHONPATH=build/release/python /usr/bin/python3 bench/python-bench.py [--bench BIN] [--quick]
"""
import argparse
import json
import os
import pathlib
import subprocess
import sys
import time

import numpy as np

import zuba

ROOT = pathlib.Path(__file__).resolve().parents[1]


def best(call, repeat):
    times = []
    for _ in range(repeat):
        started = time.perf_counter()
        call()
        times.append(time.perf_counter() - started)
    return min(times), float(np.median(times))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", default=str(ROOT / "build/release/bench/run_call_bench"))
    parser.add_argument("--quick", action="store_true", help="skip the 16-sample studies")
    parser.add_argument("--study-repeat", type=int, default=1,
                        help="runs of each 16-sample study (the fastest is printed)")
    args = parser.parse_args()
    # The machine is shared: the load says how far the figures can be trusted.
    print("load average at the start: %.2f %.2f %.2f" % os.getloadavg())

    m = zuba.read_map(str(ROOT / "examples/tvk310-p.sdf"))
    cpp = {}
    if pathlib.Path(args.bench).exists():
        # One call per repetition, as Python times them: minima and medians of single calls.
        out = subprocess.run([args.bench, "--benchmark_format=json", "--benchmark_min_time=1e-9",
                              "--benchmark_repetitions=30"],
                             capture_output=True, text=True, check=True).stdout
        for b in json.loads(out)["benchmarks"]:
            if b.get("run_type") == "iteration":
                cpp.setdefault(b["run_name"], []).append(b["real_time"] / 1e3)  # ms -> s
    print(f"{'call':44} {'Python min / median (ms)':>26} {'C++ min / median (ms)':>24}")
    for closure in ("standard", "precise"):
        for n in (2, 11):
            p = zuba.parameters(EkEnd=0.6 + (n - 1) * 0.6)
            # The C++ bench prepares and runs, as zuba.run does without the checks before a run.
            low, median = best(lambda: zuba.run(m, p, closure=closure, threads=1, checks=False),
                               30)
            name = f"PrepareAndRun/{closure.capitalize()}/{n}/real_time"
            c = cpp.get(name)
            text = "" if c is None else f"{min(c) * 1e3:11.2f} / {np.median(c) * 1e3:8.2f}"
            print(f"zuba.run {closure} {n:2d} energies, 1 thread{'':10} "
                  f"{low * 1e3:11.2f} / {median * 1e3:8.2f}   {text}")
            checked, _ = best(lambda: zuba.run(m, p, closure=closure, threads=1), 30)
            print(f"  the same with checks=True (the default){'':4} {checked * 1e3:11.2f}")

    ring = zuba.read_map(str(ROOT / "examples/ring-590.sdf"))
    rng = np.random.default_rng(0)
    r, theta = rng.uniform(1.8, 4.7, 1_000_000), rng.uniform(0, 2 * np.pi, 1_000_000)
    ring.field(r[:10], theta[:10])  # the patches are built on first use
    low, median = best(lambda: ring.field(r, theta), 7)
    print(f"FieldMap.field, 1e6 points on the ring     {low:11.3f} / {median:8.3f} s")

    study = ROOT / "examples/python/tolerance_study.py"
    sys.path.insert(0, str(study.parent))
    import tolerance_study
    fields = dict(tolerance_study.RING, EkBegin=72.0, EkEnd=590.0, dEk=8.0)
    low, median = best(lambda: tolerance_study.run_sample(0, 0, str(ROOT / "examples/ring-590.sdf"),
                                                          "TVK-310: p", fields, 1.0, 0.5, 5, 1), 3)
    print(f"one tolerance sample (66 energies, 1 thread) {low:9.2f} / {median:8.2f} s")
    if not args.quick:
        for workers in (1, 2):
            command = [sys.executable, str(study), "--samples", "16", "--workers", str(workers),
                       "--json"]
            low, median = best(lambda: subprocess.run(command, check=True, capture_output=True),
                               args.study_repeat)
            print(f"16 samples on {workers} worker(s), with the cluster's start "
                  f"{low:8.1f} / {median:8.1f} s")
    print("load average at the end: %.2f %.2f %.2f" % os.getloadavg())


if __name__ == "__main__":
    main()
