#!/usr/bin/python3
"""A Monte-Carlo study of field errors on dask.distributed.

Each sample adds to the map a first harmonic of random amplitude (normal, --sigma-a1 gauss) and
random phase, constant in R, and a smooth mean-field error (normal values of --sigma-b gauss at
--knots radii, joined by a natural cubic spline), closes the orbits of --from .. --to in --step
MeV with the precise closure, and keeps the worst |isochronism|, the smallest nu_z and the largest
orbit-centre shift (the distance of the closed orbit's centre from the machine centre, from the
first Fourier component of R(theta)). Sample k draws from its own seed, --seed + k, so that the
results do not depend on how many workers run them.

    ./run.sh --python examples/python/tolerance_study.py --samples 16 --workers 2
    ./run.sh --python examples/python/tolerance_study.py --scheduler tcp://host:8786 --json
"""
import argparse
import functools
import json
import math
import pathlib
import sys
import time

import numpy as np

import zuba

HERE = pathlib.Path(__file__).resolve().parent
RING = {"ParticleName": "p", "m0": 1.007276466812, "Q": 1, "Frf": 50.65, "H": 6, "N": 8}
GAUSS = 1e-4  # T


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--map", default=str(HERE.parent / "ring-590.sdf"),
                        help="field map (default: the bundled 590 MeV ring)")
    parser.add_argument("--mode", default="TVK-310: p",
                        help="operating mode whose preset the changes start from")
    parser.add_argument("--set", action="append", default=[], metavar="NAME=VALUE",
                        help="a run field, as zuba-cli run --set (default: the ring's ion and RF)")
    parser.add_argument("--samples", type=int, default=16)
    parser.add_argument("--sigma-a1", type=float, default=1.0, help="first harmonic (gauss)")
    parser.add_argument("--sigma-b", type=float, default=0.5, help="mean-field error (gauss)")
    parser.add_argument("--knots", type=int, default=5, help="radii of the mean-field error")
    parser.add_argument("--from", dest="ek_from", type=float, default=72.0, help="MeV")
    parser.add_argument("--to", dest="ek_to", type=float, default=590.0, help="MeV")
    parser.add_argument("--step", type=float, default=8.0, help="MeV")
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--workers", type=int, default=2, help="processes of the local cluster")
    parser.add_argument("--threads", type=int, default=1, help="energies in parallel per sample")
    parser.add_argument("--scheduler", help="address of an existing dask scheduler")
    parser.add_argument("--json", action="store_true", help="print the results as JSON")
    parser.add_argument("--plot", help="histograms of the three results (PNG)")
    args = parser.parse_args(argv)
    if args.samples < 1 or args.workers < 1 or args.knots < 2:
        parser.error("--samples and --workers must be at least 1, --knots at least 2")
    return args


def run_fields(args):
    fields = dict(RING) if not args.set else {}
    for assignment in args.set:
        name, _, value = assignment.partition("=")
        fields[name.strip()] = value
    fields.update(EkBegin=args.ek_from, EkEnd=args.ek_to, dEk=args.step)
    return fields


def natural_spline(x, y, at):
    """The natural cubic spline through (x, y), evaluated at `at`."""
    n = len(x)
    h = np.diff(x)
    a = np.zeros((n, n))
    rhs = np.zeros(n)
    a[0, 0] = a[-1, -1] = 1.0
    for i in range(1, n - 1):
        a[i, i - 1:i + 2] = h[i - 1], 2 * (h[i - 1] + h[i]), h[i]
        rhs[i] = 6 * ((y[i + 1] - y[i]) / h[i] - (y[i] - y[i - 1]) / h[i - 1])
    m = np.linalg.solve(a, rhs)  # second derivatives
    k = np.clip(np.searchsorted(x, at) - 1, 0, n - 2)
    t0, t1 = x[k + 1] - at, at - x[k]
    return (m[k] * t0**3 + m[k + 1] * t1**3) / (6 * h[k]) + \
        (y[k] / h[k] - m[k] * h[k] / 6) * t0 + (y[k + 1] / h[k] - m[k + 1] * h[k] / 6) * t1


@functools.lru_cache(maxsize=4)
def read_map(path):
    return zuba.read_map(path)


def run_sample(k, seed, path, mode, fields, sigma_a1, sigma_b, knots, threads):
    """One sample: the perturbed map's precise run and its three figures."""
    started = time.perf_counter()
    m = read_map(path)
    rng = np.random.default_rng(seed)
    a1 = rng.normal(0.0, sigma_a1) * GAUSS
    phase = rng.uniform(0.0, 2 * math.pi)
    knot_r = np.linspace(m.r[0], m.r[-1], knots)
    mean_error = natural_spline(knot_r, rng.normal(0.0, sigma_b, knots) * GAUSS, m.r)
    b = m.b + a1 * np.cos(m.theta - phase)[None, :] + mean_error[:, None]
    r = zuba.run(zuba.FieldMap(m.r, m.theta, b), zuba.parameters(mode, **fields),
                 closure="precise", threads=threads)
    closed = [i for i, status in enumerate(r.status) if status == "closed"]
    v = r.values
    # The orbit's centre (xc, yc) = (1/pi) int R (cos, sin) dtheta over its turn, as zuba-cli
    # orbits gives it.
    at = r.orbit_at(0.0)
    return {"sample": k, "seed": seed,
            "isochronism_max": float(np.nanmax(np.abs(v["isochronism"][closed]))),
            "nu_z_min": float(np.nanmin(v["nu_z"][closed])),
            "centre_shift_max_m": float(np.nanmax(np.hypot(at["xc_m"], at["yc_m"]))),
            "closed": len(closed), "energies": len(r),
            "seconds": time.perf_counter() - started}


def summary(results):
    out = {}
    for key in ("isochronism_max", "nu_z_min", "centre_shift_max_m"):
        values = np.array([r[key] for r in results])
        out[key] = {"mean": float(values.mean()), "std": float(values.std()),
                    "min": float(values.min()), "max": float(values.max())}
    out["seconds_per_sample"] = float(np.mean([r["seconds"] for r in results]))
    return out


def study(args):
    from dask.distributed import Client, LocalCluster

    fields = run_fields(args)
    zuba.parameters(args.mode, **fields)  # refused here, before any worker starts
    started = time.perf_counter()
    if args.scheduler:
        client, cluster = Client(args.scheduler), None
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    try:
        futures = [client.submit(run_sample, k, args.seed + k, args.map, args.mode, fields,
                                 args.sigma_a1, args.sigma_b, args.knots, args.threads,
                                 pure=False) for k in range(args.samples)]
        results = sorted(client.gather(futures), key=lambda r: r["sample"])
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    return {"samples": args.samples, "results": results, "summary": summary(results),
            "wall_seconds": time.perf_counter() - started}


def plot(out, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    keys = [("isochronism_max", "max |F0·H/Frf − 1|", 1.0), ("nu_z_min", "min ν_z", 1.0),
            ("centre_shift_max_m", "max centre shift (mm)", 1e3)]
    fig, axes = plt.subplots(1, 3, figsize=(12, 3.5))
    for ax, (key, label, scale) in zip(axes, keys):
        ax.hist([r[key] * scale for r in out["results"]], bins=max(5, out["samples"] // 3))
        ax.set_xlabel(label)
        ax.grid(True, alpha=0.3)
    axes[0].set_ylabel("samples")
    fig.suptitle(f"{out['samples']} samples of field errors")
    fig.tight_layout()
    fig.savefig(path, dpi=100)


def main(argv=None):
    args = parse_args(argv)
    out = study(args)
    if args.json:
        print(json.dumps(out, indent=2))
    else:
        print(f"{'sample':>6} {'seed':>6} {'max |isochronism|':>18} {'min nu_z':>9} "
              f"{'max centre shift (mm)':>22} {'closed':>7} {'s':>6}")
        for r in out["results"]:
            print(f"{r['sample']:6d} {r['seed']:6d} {r['isochronism_max']:18.3e} "
                  f"{r['nu_z_min']:9.5f} {r['centre_shift_max_m'] * 1e3:22.4f} "
                  f"{r['closed']:3d}/{r['energies']:<3d} {r['seconds']:6.2f}")
        print(f"{out['samples']} samples in {out['wall_seconds']:.1f} s, "
              f"{out['summary']['seconds_per_sample']:.2f} s per sample on its worker")
    if args.plot:
        plot(out, args.plot)
        print(f"Picture: {args.plot}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
