// zuba-cli synth-map [options] -o OUT.sdf: writes the field map of a synthetic N-sector
// isochronous cyclotron for the ion and RF of an operating mode (or given one by one).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calc/maps/coil_table.h"
#include "calc/run/machine_file.h"
#include "calc/run/run_quantities.h"
#include "calc/synth/synth_map.h"
#include "cli/command.h"
#include "numerics/constants.h"
#include "numerics/units.h"
#include "platform/files.h"
#include "platform/message.h"
#include "platform/numbers.h"
#include "results/run_parameters.h"
#include "results/text.h"

namespace zuba::cli {
namespace {

struct SynthCommandOptions {
  std::string mode = kModeTvk310;
  std::string machine;  // a machine file in place of the preset
  std::optional<double> frf, mass, checkEnergy;
  std::optional<int32_t> harmonic, sectors, charge;
  bool negative = false;
  bool noCorrection = false;
  bool quiet = false;
  SynthMapOptions map;
  std::string output;
  std::string coils;                  // trim-coil table whose field is added
  std::vector<std::string> currents;  // NAME=A
};

// The ion, the RF and the energies of the preset or of the machine file; kExitOk, or the exit
// code of a machine file refused.
int ReadPreset(const SynthCommandOptions& o, RunParameters& preset) {
  if (!o.machine.empty()) {
    const Result<Machine> machine = ReadMachineFile(o.machine);
    if (!machine) return Refused(machine.outcome());
    preset = machine->run;
  } else if (!ApplyPreset(o.mode, preset)) {
    throw UsageError{"Unknown --mode \"" + o.mode + "\" (allowed: \"" + kModeTvk310 + "\", \"" +
                     kModeAvf14N5 + "\")"};
  }
  return kExitOk;
}

// The ion and RF options given one by one, over those of the preset.
void ApplyIonOptions(const SynthCommandOptions& o, SynthMapOptions& map) {
  if (o.frf) map.frfMhz = *o.frf;
  if (o.mass) map.massSamu = *o.mass;
  if (o.harmonic) map.harmonic = *o.harmonic;
  if (o.sectors) map.sectors = *o.sectors;
  if (o.charge) map.chargeNumber = *o.charge;
  if (o.negative) map.negativeIon = true;
  map.flutterCorrection = !o.noCorrection;
}

// The field of the trim coils of --coils at the currents of --current, added to the map;
// kExitOk, or the exit code of a coil table refused.
int AddCoilField(const SynthCommandOptions& o, SynthMapOptions& map) {
  if (!o.currents.empty() && o.coils.empty())
    throw UsageError{"synth-map: --current needs --coils, the table of the coils' fields"};
  if (o.coils.empty()) return kExitOk;
  Result<TrimCoils> read = TrimCoils::Read(o.coils);
  if (!read) return Refused(read.outcome());
  auto coils = std::make_shared<TrimCoils>(std::move(*read));
  std::vector<double> amperes(static_cast<std::size_t>(coils->Count()), 0.0);
  for (const std::string& item : o.currents) {
    const std::size_t eq = item.find('=');
    int coil = -1;
    for (int c = 0; eq != std::string::npos && c < coils->Count(); ++c)
      if (coils->Name(c) == TrimSpace(item.substr(0, eq))) coil = c;
    const std::optional<double> current =
        eq == std::string::npos ? std::nullopt : ParseNumber(TrimSpace(item.substr(eq + 1)));
    if (coil < 0 || !current)
      throw UsageError{"--current needs NAME=A with a coil of " + o.coils + ", not \"" + item +
                       "\""};
    amperes[coil] = *current;
  }
  map.addedField = [coils, amperes](double r) {
    double b = 0;  // T
    for (int c = 0; c < coils->Count(); ++c) b += amperes[c] * coils->FieldPerAmpere(c, r);
    return b;
  };
  return kExitOk;
}

// The summary's lines of the map written: its grid, the ion and RF.
void PrintGridAndIon(const std::string& output, const SynthMapOptions& map) {
  std::cout << "Wrote " << output << ": unit " << map.unit << ", radii "
            << FormatNumber(map.rMin, Fixed(3)) << " .. " << FormatNumber(map.rMax, Fixed(3))
            << " m step " << FormatNumber(map.dR, Fixed(3)) << " m, azimuths "
            << FormatNumber(map.thetaMin, Fixed(3)) << " .. "
            << FormatNumber(map.thetaMax, Fixed(3)) << " degree step "
            << FormatNumber(map.dTheta, Fixed(3)) << "\n";
  std::cout << "Ion: m0 = " << FormatNumber(map.massSamu, Significant(12))
            << " samu, q = " << (map.negativeIon ? "-" : "+") << map.chargeNumber
            << " e; Frf = " << FormatNumber(map.frfMhz, Significant(6))
            << " MHz, H = " << map.harmonic << ", N = " << map.sectors << "\n";
}

// The summary's lines of the field: the mean field and its flutter correction, the hills.
void PrintFieldSummary(const SynthMapOptions& map, const SynthField& field) {
  if (map.uniformField) {
    std::cout << "Mean field: uniform " << FormatNumber(field.MeanField(map.rMin), Fixed(5))
              << " T\n";
  } else {
    // The sinusoidal summary has always counted 0 in the range; the hills start from r-min.
    double low = map.hillFraction ? field.Correction(map.rMin) : 0, high = low;
    for (double r = map.rMin; r <= map.rMax + 1e-9; r += 0.001) {
      low = std::min(low, field.Correction(r));
      high = std::max(high, field.Correction(r));
    }
    std::cout << "B0 = " << FormatNumber(field.B0(), Fixed(5))
              << " T, R_inf = c/omega0 = " << FormatNumber(field.RInfinity(), Fixed(5)) << " m, ";
    if (!map.hillFraction)
      std::cout << "flutter at r-max " << FormatNumber(field.Flutter(map.rMax), Fixed(3)) << ", ";
    std::cout << "flutter correction of the mean field " << FormatNumber(low * 100, Fixed(4))
              << " % .. " << FormatNumber(high * 100, Fixed(4)) << " %\n";
  }
  if (map.hillFraction) {
    // At r-max the hill centre is at the spiral's azimuth, the valley centre half a sector on.
    const double hillAzimuth = Radians(map.spiral);
    const double hill = field.Field(map.rMax, hillAzimuth);
    double valley = field.Field(map.rMax, hillAzimuth + kPi / map.sectors);
    if (std::fabs(valley) < 5e-6) valley = 0;  // no "-0.00000" for a negative ion
    std::cout << "Hills at r-max: field " << FormatNumber(hill, Fixed(5)) << " T, valleys "
              << FormatNumber(valley, Fixed(5)) << " T, flutter <B^2>/<B>^2 - 1 = "
              << FormatNumber(field.FlutterVariance(map.rMax), Fixed(4)) << ", edge spiral angle "
              << FormatNumber(Degrees(field.SpiralAngle(map.rMax)), Fixed(2)) << " degree\n";
  }
}

// The summary's line of the closed orbit of mev (MeV) in the model field, with a warning when
// there is none or when it leaves the map.
void PrintClosedOrbit(const SynthMapOptions& map, const SynthField& field, double mev) {
  const SynthOrbit orbit = field.ClosedOrbit(MeVToJoules(mev));
  if (!orbit.found) {
    ShowMessage(
        "no closed orbit of " + FormatNumber(mev, Significant(6)) + " MeV in the model field",
        "Warning", Icon::Warning);
    return;
  }
  std::cout << "Closed orbit of " << FormatNumber(mev, Significant(6)) << " MeV: mean radius "
            << FormatNumber(orbit.meanRadius, Fixed(4)) << " m, radius "
            << FormatNumber(orbit.minRadius, Fixed(4)) << " .. "
            << FormatNumber(orbit.maxRadius, Fixed(4)) << " m, turn time x omega0 / 2pi "
            << FormatNumber(orbit.periodRatio, Fixed(10)) << "\n";
  if (orbit.maxRadius > map.rMax)
    ShowMessage("the closed orbit of " + FormatNumber(mev, Significant(6)) + " MeV reaches " +
                    FormatNumber(orbit.maxRadius, Fixed(4)) + " m, beyond r-max " +
                    FormatNumber(map.rMax, Fixed(3)) + " m",
                "Warning", Icon::Warning);
}

int RunSynthMap(SynthCommandOptions& o) {
  SynthMapOptions& map = o.map;
  RunParameters preset;
  if (const int refused = ReadPreset(o, preset); refused != kExitOk) return refused;
  SynthOptionsFromRun(preset, map);
  ApplyIonOptions(o, map);
  if (const int refused = AddCoilField(o, map); refused != kExitOk) return refused;

  Result<SynthMapText> made = SynthesizeMap(map);
  if (!made) throw UsageError{"synth-map: " + made.failure().message.text};
  if (Outcome written = WriteFileAtomically(o.output, made->text); !written) {
    ShowMessage("cannot write " + o.output + ": " + written.message().text, "Error");
    return kExitFailed;
  }
  if (o.quiet) return kExitOk;
  PrintGridAndIon(o.output, map);
  PrintFieldSummary(map, made->field);
  PrintClosedOrbit(map, made->field, o.checkEnergy ? *o.checkEnergy : preset.EkEnd);
  return kExitOk;
}

Command SetUp(CLI::App& parent) {
  auto o = std::make_shared<SynthCommandOptions>();
  CLI::App* app = parent.add_subcommand(
      "synth-map", "Write the field map of a synthetic N-sector isochronous cyclotron");
  app->add_option("-o,--output", o->output, "Field map file to write (*.sdf)")->required();
  CLI::Option* mode = app->add_option("--mode", o->mode, "Operating mode whose ion and RF are used")
                          ->capture_default_str();
  app->add_option("--machine", o->machine,
                  "Machine file (JSON) whose ion, RF and last energy are used, in place of --mode")
      ->excludes(mode);
  app->add_option("--frf", o->frf, "RF frequency, MHz");
  app->add_option("--harmonic", o->harmonic, "Harmonic number H");
  app->add_option("--sectors", o->sectors, "Number of sectors N");
  app->add_option("--mass", o->mass, "Rest mass m0, samu");
  app->add_option("--charge", o->charge, "Charge magnitude Q, elementary charges");
  app->add_flag("--negative", o->negative, "Negative ion (the field is made negative)");
  app->add_option("--r-min", o->map.rMin, "First radius, m")->capture_default_str();
  app->add_option("--r-max", o->map.rMax, "Last radius, m")->capture_default_str();
  app->add_option("--dr", o->map.dR, "Radius step, m")->capture_default_str();
  app->add_option("--theta-min", o->map.thetaMin, "First azimuth, degree")->capture_default_str();
  app->add_option("--theta-max", o->map.thetaMax, "theta-min + 360, degree")->capture_default_str();
  app->add_option("--dtheta", o->map.dTheta, "Azimuth step, degree")->capture_default_str();
  app->add_option("--unit", o->map.unit, "Unit of the values")
      ->check(CLI::IsMember({"Gs", "T"}))
      ->capture_default_str();
  CLI::Option* flutter =
      app->add_option("--flutter", o->map.flutter, "Flutter amplitude far from the centre")
          ->capture_default_str();
  app->add_option("--flutter-radius", o->map.flutterRadius,
                  "Radius where the flutter reaches 63 % of its amplitude, m")
      ->capture_default_str();
  app->add_option("--spiral", o->map.spiral, "Azimuth shift of the hills at r-max, degree")
      ->capture_default_str();
  CLI::Option* hills =
      app->add_option("--hill-fraction", o->map.hillFraction,
                      "Separated-sector hills instead of the sinusoidal flutter: the fraction of "
                      "a sector's azimuth covered by the hill, between its half-field points "
                      "(the hills grow in from the centre with --flutter-radius)");
  hills->excludes(flutter);
  app->add_option("--valley-field", o->map.valleyField,
                  "Valley field as a fraction of the hill field (with --hill-fraction)")
      ->needs(hills)
      ->capture_default_str();
  app->add_option("--edge-width", o->map.edgeWidth,
                  "Width of the hill edges, m: the field rises from 10 % to 90 % of the step "
                  "over this width, measured across the (spiral) edge (with --hill-fraction)")
      ->needs(hills)
      ->capture_default_str();
  app->add_option("--uniform", o->map.uniformField,
                  "Uniform mean field, T (no relativistic rise, no correction)");
  app->add_flag("--no-flutter-correction", o->noCorrection,
                "Mean field B0*gamma(R) without the flutter correction");
  app->add_option("--check-energy", o->checkEnergy,
                  "Energy whose closed orbit is reported, MeV (default: the mode's last energy)");
  app->add_option("--coils", o->coils,
                  "Trim-coil table (r_m, then each coil's field per ampere) whose field --current "
                  "adds to the map");
  app->add_option("--current", o->currents,
                  "NAME=A: the current of one coil of --coils; may be repeated");
  app->add_flag("--quiet", o->quiet, "Write the map without the summary");
  return Command{app, [o] { return RunSynthMap(*o); }};
}

}  // namespace

ZUBA_CLI_COMMAND(SetUp);

}  // namespace zuba::cli
