#!/usr/bin/python3
"""ZUBA from Python in a few lines: read the bundled 590 MeV ring, close the orbits of 72 to
590 MeV with the precise closure, print a few values and draw the isochronism and the tune
diagram.

    ./run.sh --python examples/python/quickstart.py [--plot FILE.png]
"""
import argparse
import pathlib

import zuba

here = pathlib.Path(__file__).resolve().parent
parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
parser.add_argument("--plot", default="quickstart.png", help="picture to write (PNG)")
args = parser.parse_args()

m = zuba.read_map(str(here.parent / "ring-590.sdf"))
p = zuba.parameters(ParticleName="p", m0=1.007276466812, Q=1, Frf=50.65, H=6, N=8,
                    EkBegin=72, EkEnd=590, dEk=8)
r = zuba.run(m, p, closure="precise", progress=lambda done, total: print(
    f"\r{done}/{total} energies", end="", flush=True))
print()
v = r.values
print(f"{len(r)} energies, {r.status.count('closed')} closed")
print(f"{'Ek (MeV)':>9} {'Rmn (m)':>9} {'F0*H/Frf-1':>11} {'nu_r':>7} {'nu_z':>7}")
for i in range(0, len(r), 16):
    print(f"{v['Ek_MeV'][i]:9.1f} {v['Rmn_m'][i]:9.4f} {v['isochronism'][i]:11.2e} "
          f"{v['nu_r'][i]:7.4f} {v['nu_z'][i]:7.4f}")
for line in r.warnings:
    print(line)

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt

fig, (left, right) = plt.subplots(1, 2, figsize=(10, 4))
left.plot(v["Ek_MeV"], v["isochronism"] * 1e6, ".-")
left.set_xlabel("Ek (MeV)")
left.set_ylabel("F0·H/Frf − 1 (1e-6)")
left.set_title("Isochronism")
left.grid(True, alpha=0.3)
points = right.scatter(v["nu_r"], v["nu_z"], c=v["Ek_MeV"], s=12)
right.set_xlabel("ν_r")
right.set_ylabel("ν_z")
right.set_title("Tune diagram")
right.grid(True, alpha=0.3)
fig.colorbar(points, ax=right, label="Ek (MeV)")
fig.tight_layout()
fig.savefig(args.plot, dpi=100)
print(f"Picture: {args.plot}")
