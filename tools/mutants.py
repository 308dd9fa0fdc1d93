#!/usr/bin/python3
"""Plants faults in the program one at a time and tells which of them the tests let through.

Usage: tools/mutants.py [--list] [--only NAME[,NAME...]] [--scratch DIR] [--jobs N] [--timeout S]

Each mutant of MUTANTS below is one source edit: a file, an exact text in it and its replacement,
and the test programs that should catch it. The runner copies the working tree into a scratch
folder of its own (build/mutants, or --scratch), configures a build there once, and then for each
mutant writes the edit into the scratch copy, builds only the mutant's test programs (ninja
rebuilds the edited file and what links it; ccache serves the rest), runs their ctest labels (each
test program is labelled with its own name) and writes the file back. A mutant whose tests fail
or time out is killed; one whose tests all pass survived. The survivors are printed at the end
with the mutation score.

Before any mutant the tests of every selected mutant must pass on the unchanged copy. An exact
text that is not in its file, or is there more than once, stops the runner before anything is
built: the list must stay true as the code moves. A mutant that does not build is reported as an
error of the list, not as killed.

  --list      prints one mutant a line (name, file, test programs, what it plants) and checks the
              texts; nothing is built
  --only      runs only the mutants named (comma-separated, or the option repeated)
  --scratch   the scratch folder (default build/mutants in the source tree); kept between runs,
              so that a second run rebuilds only what changed
  --jobs      parallel build and test jobs (default 2)
  --timeout   seconds a single test may take before it counts as killed (default 600)

Exit status: 0 every mutant run was killed, 1 some survived, 2 the list or the build is at fault.
"""
import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import time
from dataclasses import dataclass

ROOT = pathlib.Path(__file__).resolve().parent.parent


@dataclass(frozen=True)
class Mutant:
    name: str
    file: str  # relative to the source tree
    text: str  # exact text, found exactly once
    replacement: str
    tests: tuple  # test programs (targets and ctest labels)
    what: str


def M(name, file, text, replacement, tests, what):
    return Mutant(name, file, text, replacement, tuple(tests.split()), what)


MUTANTS = [
    # ---- the seven faults that passed every test when a reviewer planted them -------------------
    M("rf-phase-sign", "calc/corrections/isochronise.cpp",
      "record.run.H * (1 / (1 + errors[last]) - 1)",
      "record.run.H * (1 - 1 / (1 + errors[last]))",
      "calc_tests", "the RF phase slip of the corrections with its sign flipped"),
    M("response-index-zero", "calc/corrections/isochronise.cpp",
      "const double k = MeanFieldIndex(record.radii, mean, orbit.Rmn);",
      "const double k = 0 * MeanFieldIndex(record.radii, mean, orbit.Rmn);",
      "calc_tests", "the field index forced to zero in the correction's response"),
    M("fortran-exponent", "calc/maps/map_text.cpp",
      "NumberSyntax{.fortranExponent = true}",
      "NumberSyntax{.fortranExponent = false}",
      "formats_tests calc_tests", "the Fortran D exponent refused by the map readers"),
    M("corrected-map-resampling", "calc/corrections/isochronise.cpp",
      "if (!sdf && !IsSdfAzimuthStep(step))",
      "if (!sdf && !IsSdfAzimuthStep(step) && false)",
      "calc_tests calc_cli_tests",
      "no resampling of a corrected map whose azimuth step cannot be written (1/3 deg)"),
    M("sample-gap", "calc/run/driver.cpp",
      "      points[i] = 0;\n",
      "      points[i] = 0;\n"
      "      for (auto* t : {&orbits.R, &orbits.vR, &orbits.theta, &orbits.w, &orbits.tau})\n"
      "        t->resize(t->size() + 16);\n",
      "precise_tests",
      "the slots of energies that did not close in the middle of a precise run not closed up in "
      "the sample tables"),
    M("run-guard", "app/calculation_controller.cpp",
      "  if (IsCalculationRunning()) return;\n\n  std::string label, machineFile;",
      "  std::string label, machineFile;",
      "app_run_tests",
      "no guard before a new desktop run: one starts before the last run's results reach the "
      "window"),
    M("trim-step-loses-orbits", "calc/corrections/trim_fit.cpp",
      "if (!AllClosed(moved, closedOnMap)) continue;",
      "if (!AllClosed(moved, closedOnMap) && false) continue;",
      "calc_tests", "a trim-fit step that loses orbits accepted"),
    # ---- the map readers and the completion of a sector --------------------------------------
    M("count-not-whole", "calc/maps/map_text.cpp",
      "|| value != std::floor(value)", "",
      "formats_tests", "a node count of a header that is not whole taken as its whole part"),
    M("polar-kilogauss", "calc/maps/polar_map.cpp",
      "g.field.push_back(value * 0.1);", "g.field.push_back(value * 0.01);",
      "formats_tests", "the polar map's kG read as 0.01 T"),
    M("mirror-column", "calc/maps/map_completion.cpp",
      "column(iR, j < c ? j : sector - j)", "column(iR, j < c ? j : sector - j - 1)",
      "formats_tests", "--mirror repeats the wrong column on the way back"),
    M("reverse-azimuth", "calc/maps/map_completion.cpp",
      "options.reverse ? (full - j) % full : j", "options.reverse ? full - 1 - j : j",
      "formats_tests", "--reverse shifted by one azimuth step"),
    M("negate-ignored", "calc/maps/map_completion.cpp",
      "options.negate ? -1.0 : 1.0", "options.negate ? 1.0 : 1.0",
      "formats_tests", "--negate ignored"),
    M("sdf-rounding", "calc/maps/field_map.cpp",
      "gauss ? std::round(v * 10) * 1e-5", "gauss ? std::floor(v * 10) * 1e-5",
      "calc_tests formats_tests", "a .sdf value in Gs cut instead of rounded to 0.1 Gs"),
    M("table-gauss", "calc/maps/table_map.cpp",
      "FieldUnit::Gauss)       ? 1e-4", "FieldUnit::Gauss)       ? 1e-3",
      "formats_tests", "a table's Gs read as 1e-3 T"),
    M("table-last-node", "calc/maps/table_map.cpp",
      "if (nodes.back().first != nR * nTheta - 1)", "if (nodes.back().first > nR * nTheta - 1)",
      "formats_tests", "a table without its last node read (its value left at zero)"),
    M("record-mean-unchecked", "calc/maps/record_map.cpp",
      "if (off <= kMeanFieldTolerance * scale) return {};",
      "if (off <= kMeanFieldTolerance * scale || scale > 0) return {};",
      "formats_tests", "a record whose stored mean field disagrees with its values read"),
    M("underflow-refused", "platform/numbers.cpp",
      "if (nonZero && !negativeExponent) return std::nullopt;",
      "if (nonZero && (!negativeExponent || nonZero)) return std::nullopt;",
      "platform_tests", "a number below the smallest double (1e-400) refused instead of read as 0"),
    # ---- closures and tunes ------------------------------------------------------------------
    M("tune-sign", "calc/orbits/precise_orbit.cpp",
      "m.m12 >= 0 ? x : 1 - x", "m.m12 < 0 ? x : 1 - x",
      "precise_tests", "the fractional tune taken on the wrong side of a half"),
    M("tune-unstable", "calc/orbits/precise_orbit.cpp",
      "if (!(std::fabs(halfTrace) <= 1 + 1e-9)) return {kNoValue, false};",
      "if (!(std::fabs(halfTrace) <= 2)) return {kNoValue, false};",
      "precise_tests", "growing motion (|trace| / 2 up to 2) given a tune as if it were stable"),
    M("no-neighbour-seeds", "calc/orbits/closed_orbits.cpp",
      "for (int sweep = 0; sweep < 2; ++sweep) {", "for (int sweep = 0; sweep < 0; ++sweep) {",
      "precise_tests", "energies that did not close never seeded from their closed neighbours"),
    M("linear-seeds", "calc/orbits/closed_orbits.cpp",
      "i, first, i, kSeedPoints, assumed);", "i, first, i, 2, assumed);",
      "precise_tests", "the first pass's seeds linear in the speed instead of cubic"),
    M("matrix-left-out-zero", "calc/orbits/precise_turn.cpp",
      "constexpr double kNone = std::numeric_limits<double>::quiet_NaN();",
      "constexpr double kNone = 0;",
      "precise_tests", "a one-turn matrix a turn did not integrate given a tune (that of zeros)"),
    M("cursor-next-cell", "numerics/field_patches.h",
      "      patch_ += 16;", "      patch_ += 0;",
      "numerics_tests", "the orbit's field cursor stepping to the next ring cell keeps the last patch"),
    M("node-walk-turn", "numerics/field_patches.h",
      "            turn_ += 2.0 * kPi;", "            turn_ += 0.0;",
      "numerics_tests", "the azimuth nodes' walk staying in its turn past the table's last node"),
    M("node-walk-back", "numerics/field_patches.h",
      "if (theta < node_ - guard && theta >= low_ - guard) return node_;",
      "if (theta < node_ - guard) return node_;",
      "numerics_tests", "the azimuth nodes' walk giving its node for a point intervals before it"),
    M("step-factor-bits", "numerics/dormand_prince.h",
      "kFifthRoot.mantissa[(bits >> 44) & 0xFF]", "kFifthRoot.mantissa[(bits >> 43) & 0xFF]",
      "numerics_tests", "the step factor's mantissa table read with the wrong bits"),
    M("near-tune-once", "calc/orbits/precise_turn.cpp",
      "    if (need <= level) return {};", "    return {};",
      "precise_tests", "the turn with the tunes never integrated again at the level it needs"),
    M("edge-cells-level", "calc/orbits/precise_turn.cpp",
      "{turn.edgeCells ? 1 : 0, NearWholeTune", "{0, NearWholeTune",
      "precise_tests", "an orbit in the map's edge interval left at level 0"),
    M("tune-from-trace", "calc/orbits/precise_orbit.cpp",
      "std::atan2(sine, halfTrace)", "std::acos(std::clamp(halfTrace, -1.0, 1.0)) + 0 * sine",
      "precise_tests", "the tune from the trace alone (inaccurate near a whole or half tune)"),
    M("lanes-energy", "calc/orbits/precise_turn.cpp",
      "Both(a.kOverE, b.kOverE)", "Both(a.kOverE, a.kOverE)",
      "precise_tests", "the second of two turns made in turn bent as the first one's ion"),
    M("kept-turn-any-start", "calc/orbits/precise_turn.h",
      "if (!kept || !(*kept == order)) return false;", "if (!kept || (false && !(*kept == order))) return false;",
      "precise_tests", "the next energy's kept first turn taken for a turn from another start"),
    M("no-sector-start", "calc/orbits/precise_orbit.cpp",
      "if (onMap && constants.N > 1 && StartAt(r0, start)) {",
      "if (false && onMap && constants.N > 1 && StartAt(r0, start)) {",
      "precise_tests", "an energy closed from its estimates without the orbit of one sector first"),
    M("sector-arc", "calc/orbits/precise_orbit.cpp",
      "CloseFrom(constants, field, ion, start, path, kTwoPi / constants.N, true, leastResidual);",
      "CloseFrom(constants, field, ion, start, path, kTwoPi / (2 * constants.N), true, leastResidual);",
      "precise_tests", "the orbit of one sector sought over half a sector"),
    M("sector-seeds-off", "calc/orbits/closed_orbits.cpp",
      "constexpr size_t kSectorSeeded = 2;", "constexpr size_t kSectorSeeded = 0;",
      "precise_tests", "a chunk's second and third energies not seeded from the orbits of one sector"),
    M("sectors-taken-equal", "calc/orbits/closed_orbits.cpp",
      "constexpr double kEqualSectors = 1e-5;", "constexpr double kEqualSectors = 1;",
      "precise_tests", "the orbits of one sector taken for seeds where the sectors differ"),
    M("newton-turn-matrix-free", "calc/orbits/precise_turn.cpp",
      "b(constants, field, first, firstResult.path, kMatrixScale,",
      "b(constants, field, first, firstResult.path, HUGE_VAL,",
      "precise_tests", "the Newton turn beside the turn with the tunes stepping by its orbit alone"),
    M("stage-points-vertical", "calc/orbits/precise_turn.cpp",
      "N == kComponents ? std::size_t{kTau} : N", "N == kComponents ? std::size_t{kZ22} : N",
      "precise_tests", "the vertical matrix's last element not formed at the stages inside a step"),
    M("vertical-shear-rate", "calc/orbits/precise_turn.cpp",
      "+ dg * B - q * q * invW;", "+ 0 * dg * B - q * q * invW;",
      "precise_tests", "the vertical motion's change of variables without the rate of its shear"),
    M("vertical-tune", "calc/orbits/precise_orbit.cpp",
      "result.nuZ = TuneOfMatrix(turn.vertical);", "result.nuZ = TuneOfMatrix(turn.radial);",
      "precise_tests", "the vertical tune given the radial one"),
    M("rev-sign", "calc/orbits/precise_orbit.cpp",
      "    return Rmn * (1 + y);\n  }\n  return kNoValue;", "    return Rmn * (1 - y);\n  }\n  return kNoValue;",
      "precise_tests", "the precise closure's Rev with the radius correction taken off"),
    # ---- the corrections ---------------------------------------------------------------------
    M("weights-not-rooted", "calc/corrections/trim_fit.cpp",
      "rootWeights[i] = std::sqrt(w);", "rootWeights[i] = w;",
      "calc_tests", "the trim-fit's energy weights applied squared"),
    M("limits-from-zero", "calc/corrections/trim_fit.cpp",
      "lower[a] = -limits[c] - currents[c];", "lower[a] = -limits[c];",
      "calc_tests", "the lower limit of a later step measured from zero, not the current"),
    M("at-limit-exact", "calc/corrections/trim_fit.cpp",
      "std::fabs(currents[c]) >= limits[c] * (1 - 1e-9)", "std::fabs(currents[c]) > limits[c]",
      "calc_tests", "a current exactly at its limit not reported at its limit"),
    M("phase-gap", "calc/corrections/isochronise.cpp",
      "turnsPerStep * static_cast<double>(static_cast<int>(i) - last)", "turnsPerStep",
      "calc_tests", "the corrections' RF phase over a gap of energies without orbits counted as one step"),
    M("phase-warning", "calc/corrections/isochronise.cpp",
      "if (outcome.phaseDegAfter > outcome.phaseDegBefore)",
      "if (outcome.phaseDegAfter < outcome.phaseDegBefore)",
      "calc_tests", "the warning that the RF phase slip grew given when it shrank"),
    M("excluded-counted", "calc/corrections/orbits_on_map.cpp",
      "if (!excluded[i] && values[i] != kNoValue)",
      "if ((!excluded[i] || !excluded.empty()) && values[i] != kNoValue)",
      "calc_tests", "energies left out of a fit counted in its isochronism and phase figures"),
    M("lost-orbit-best", "calc/corrections/orbits_on_map.cpp",
      "errors[i] == kNoValue ? std::numeric_limits<double>::infinity()",
      "errors[i] == kNoValue ? 0.0",
      "calc_tests", "a correction step that loses an orbit counted as the best so far"),
    # ---- documents, values, report, the run's map --------------------------------------------
    M("document-negate-bit", "results/document.cpp",
      "reading.negate = (v[2] & 2) != 0;", "reading.negate = (v[2] & 4) != 0;",
      "results_tests formats_tests", "a document's --negate read from the --reverse bit"),
    M("document-block-version", "results/document.cpp",
      "  if (version == ours) return BlockStart::Read;",
      "  if (version == ours || version != 0) return BlockStart::Read;",
      "results_tests precise_tests", "a later writer's optional block read as this version's"),
    M("document-closure-length", "results/document.cpp",
      "if (n < 0 || length != 16 + 36 * static_cast<uint64_t>(n)) {", "if (n < 0) {",
      "results_tests precise_tests", "a closure block whose length disagrees with its count read"),
    M("run-map-size-only", "calc/run/run_map.cpp",
      "!StampFile(out.path).SameContents(results.mapFile)",
      "StampFile(out.path).size != results.mapFile.size",
      "calc_tests", "a map changed in place to the same size drawn as the run's map"),
    M("values-unclosed-row", "calc/run/values_table.cpp",
      "if (!closure.HasValues(i)) {", "if (!closure.HasValues(i) && false) {",
      "calc_tests precise_tests",
      "the values file's row of an energy that did not close given the missing-value marker"),
    M("report-reason", "results/report.cpp",
      "if (i < closure.reasons.size() && !closure.reasons[i].empty())",
      "if (i < closure.reasons.size() && closure.reasons[i].empty())",
      "results_tests precise_tests", "the text report's row of an energy that did not close without its reason"),
    M("diagnostics-phase-gap", "calc/run/diagnostics.cpp",
      "const double energySteps = static_cast<double>(i - last);",
      "const double energySteps = 1;",
      "precise_tests calc_tests", "a run's RF phase over a gap of unclosed energies counted as one step"),
]


def fail(text):
    print("mutants.py: " + text, file=sys.stderr)
    sys.exit(2)


def check_texts(mutants, root):
    """Every mutant's text is in its file exactly once; names are unique."""
    faults, seen = [], set()
    for m in mutants:
        if m.name in seen:
            faults.append(f"{m.name}: the name is used twice")
        seen.add(m.name)
        path = root / m.file
        if not path.is_file():
            faults.append(f"{m.name}: {m.file} does not exist")
            continue
        count = path.read_text(encoding="utf-8").count(m.text)
        if count != 1:
            where = "is not in" if count == 0 else f"is {count} times in"
            faults.append(f"{m.name}: the text to replace {where} {m.file}: {m.text!r}")
    if faults:
        fail("the list does not fit the source:\n  " + "\n  ".join(faults))


def source_files(root):
    """The files of the working tree that git tracks or would track (ignored ones left out)."""
    out = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                         cwd=root, check=True, capture_output=True).stdout
    return sorted({p for p in out.decode().split("\0") if p and (root / p).is_file()})


def sync(root, scratch):
    """Makes the scratch copy equal to the working tree, touching only files that differ (their
    times decide what ninja rebuilds)."""
    wanted = set(source_files(root))
    for rel in wanted:
        src, dst = root / rel, scratch / rel
        data = src.read_bytes()
        if dst.is_file() and dst.read_bytes() == data:
            continue
        dst.parent.mkdir(parents=True, exist_ok=True)
        dst.write_bytes(data)
        shutil.copymode(src, dst)
    for folder, dirs, files in os.walk(scratch):
        if pathlib.Path(folder) == scratch:
            dirs[:] = [d for d in dirs if d != "build"]  # the scratch build
        for name in files:
            rel = (pathlib.Path(folder) / name).relative_to(scratch).as_posix()
            if rel not in wanted:
                os.unlink(pathlib.Path(folder) / name)


def run(command, cwd, log, timeout=None):
    """Runs a command with its output into the log file; returns its exit status."""
    with open(log, "ab") as out:
        out.write(("\n$ " + " ".join(command) + "\n").encode())
        out.flush()
        try:
            return subprocess.run(command, cwd=cwd, stdout=out, stderr=subprocess.STDOUT,
                                  timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            return 124


def environment():
    """ccache for the compiler when there is one (CCACHE_DIR and CCACHE_BASEDIR as exported)."""
    env = os.environ.copy()
    if shutil.which("ccache"):
        env.setdefault("CMAKE_CXX_COMPILER_LAUNCHER", "ccache")
    return env


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--only", action="append", default=[])
    parser.add_argument("--scratch", type=pathlib.Path, default=ROOT / "build" / "mutants")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--timeout", type=int, default=600)
    args = parser.parse_args()

    check_texts(MUTANTS, ROOT)
    if args.list:
        for m in MUTANTS:
            print(f"{m.name}\t{m.file}\t{','.join(m.tests)}\t{m.what}")
        return 0
    names = {n for arg in args.only for n in arg.split(",") if n}
    unknown = names - {m.name for m in MUTANTS}
    if unknown:
        fail("no mutant is named " + ", ".join(sorted(unknown)))
    chosen = [m for m in MUTANTS if not names or m.name in names]

    os.environ.update(environment())
    scratch = args.scratch.resolve()
    build = scratch / "build" / "ci"  # as deep as the tree's own build/ci: ccache finds its work
    log = scratch / "build" / "mutants.log"
    build.mkdir(parents=True, exist_ok=True)
    log.write_text("")
    print(f"scratch copy {scratch}, build {build}, log {log}", flush=True)
    sync(ROOT, scratch)
    if not (build / "build.ninja").is_file():
        if run(["cmake", "-S", str(scratch), "-B", str(build), "-G", "Ninja",
                "-DCMAKE_BUILD_TYPE=Release", "-DZUBA_WERROR=ON"], scratch, log) != 0:
            fail(f"cmake could not configure the scratch build (see {log})")

    def build_targets(tests):
        return run(["cmake", "--build", str(build), "-j", str(args.jobs), "--target", *tests],
                   scratch, log)

    def run_tests(tests):
        labels = "^(" + "|".join(tests) + ")$"
        return run(["ctest", "--test-dir", str(build), "-L", labels, "-j", str(args.jobs),
                    "--timeout", str(args.timeout), "--stop-on-failure",
                    "--no-tests=error"], scratch, log)

    every = sorted({t for m in chosen for t in m.tests})
    started = time.monotonic()
    if build_targets(every) != 0:
        fail(f"the unchanged copy does not build (see {log})")
    if run_tests(every) != 0:
        fail(f"the tests fail on the unchanged copy, before any mutant (see {log})")
    print(f"unchanged copy: {', '.join(every)} pass ({time.monotonic() - started:.0f} s)",
          flush=True)

    killed, survived, broken = [], [], []
    for number, m in enumerate(chosen, 1):
        path = scratch / m.file
        original = path.read_text(encoding="utf-8")
        began = time.monotonic()
        try:
            path.write_text(original.replace(m.text, m.replacement, 1), encoding="utf-8")
            if build_targets(m.tests) != 0:
                broken.append(m)
                verdict = "DOES NOT BUILD"
            elif run_tests(m.tests) != 0:
                killed.append(m)
                verdict = "killed"
            else:
                survived.append(m)
                verdict = "SURVIVED"
        finally:
            path.write_text(original, encoding="utf-8")
        print(f"[{number}/{len(chosen)}] {m.name}: {verdict} ({time.monotonic() - began:.0f} s)",
              flush=True)

    total = len(killed) + len(survived)
    print()
    for m in survived:
        print(f"survived: {m.name} ({m.file}): {m.what}")
    for m in broken:
        print(f"does not build: {m.name} ({m.file}) (see {log})")
    score = 100.0 * len(killed) / total if total else 100.0
    print(f"{len(killed)} of {total} mutants killed ({score:.0f} %), {len(survived)} survived"
          + (f", {len(broken)} did not build" if broken else "")
          + f"; {time.monotonic() - started:.0f} s")
    # The scratch build holds the last mutant's objects: the next run rebuilds them.
    if broken:
        return 2
    return 1 if survived else 0


if __name__ == "__main__":
    sys.exit(main())
