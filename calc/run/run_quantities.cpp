// Presets of the two operating modes, conversion of the run parameters to SI units, their checks
// and the energy table.
#include "calc/run/run_quantities.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <stdexcept>

#include "numerics/units.h"
#include "platform/numbers.h"

namespace zuba {
namespace {

// Number text for the refusal lines: enough digits to recognise what was typed.
std::string Num(double value) {
  return FormatNumber(value, Significant(10));
}

// A refusal of a basic check: quiet, the command ends without a message box.
Failure Silent(std::string refusal) {
  return QuietFailure(std::move(refusal));
}

// A refusal with a message box of its own, owned by the view.
Failure Shown(std::string refusal) {
  Failure failure = ErrorFailure(std::move(refusal));
  failure.message.owner = Owner::View;
  return failure;
}

}  // namespace

bool ApplyPreset(std::string_view label, RunParameters& parameters) {
  const double twoPi = kTwoPi;  // rad, the preset TIs
  if (label == kModeTvk310) {
    parameters =
        RunParameters{"", "p", 0.6, 60.6, 0.6, 26.26, 1, 4, 0, 1, 1.007276466812, 0.0, twoPi, 1e-4};
    return true;
  }
  if (label == kModeAvf14N5) {
    parameters = RunParameters{"",  "14N5", 1.0, 100.0, 1.0, 16.3, 2, 4, 0, 5, 14.000330460238006,
                               0.0, twoPi,  1e-4};
    return true;
  }
  return false;
}

namespace {

// The nine basic checks of the run parameters, in this order; the first that fails ends the
// command silently. Each is written as "not (condition holds)", so that a value that is not a
// number fails it as well.
Outcome CheckBasics(const RunParameters& p, const RunQuantities& q) {
  if (p.ChargeSign != 0 && p.ChargeSign != 1)
    return Silent("ChargeSign = " + std::to_string(p.ChargeSign) +
                  " is out of range (allowed: 0 for a positive ion, 1 for a negative ion)!");
  if (!(q.ekBegin >= 0))
    return Silent("EkBegin = " + Num(p.EkBegin) + " MeV is out of range (allowed: 0 or more)!");
  if (!(q.ekEnd > 0))
    return Silent("EkEnd = " + Num(p.EkEnd) + " MeV is out of range (allowed: above 0)!");
  if (!(q.ekBegin < q.ekEnd))
    return Silent("EkEnd = " + Num(p.EkEnd) +
                  " MeV is out of range (allowed: above EkBegin = " + Num(p.EkBegin) + " MeV)!");
  if (!(q.dEk > 0))
    return Silent("dEk = " + Num(p.dEk) + " MeV is out of range (allowed: above 0)!");
  if (!(p.T0 >= 0))
    return Silent("T0 = " + Num(p.T0) + " rad is out of range (allowed: 0 or more)!");
  if (!(p.TIs > 0))
    return Silent("TIs = " + Num(p.TIs) + " rad is out of range (allowed: above 0)!");
  if (!(p.T0 < p.TIs))
    return Silent("T0 = " + Num(p.T0) + " rad is out of range (allowed: below TIs = " + Num(p.TIs) +
                  " rad)!");
  if (!(p.h > 0)) return Silent("h = " + Num(p.h) + " rad is out of range (allowed: above 0)!");
  return {};
}

// Values the orbit arithmetic divides by, or that leave the harmonic list or the tables
// undefined: refused with a message of their own.
Outcome CheckDivisors(const RunParameters& p, const RunQuantities& q) {
  if (p.H < 1)
    return Shown("Harmonic number H = " + std::to_string(p.H) +
                 " is out of range (allowed: 1 or more)!");
  if (!(q.rfFrequency > 0) || !std::isfinite(q.rfFrequency))
    return Shown("RF frequency Frf = " + Num(p.Frf) +
                 " MHz is out of range (allowed: a finite number above 0)!");
  if (!(q.restMass > 0) || !std::isfinite(q.restMass))
    return Shown("Rest mass m0 = " + Num(p.m0) +
                 " samu is out of range (allowed: a finite number above 0)!");
  if (p.Q == 0) return Shown("Charge Q = 0 is out of range (allowed: 1 or more)!");
  if (p.N < 2)
    return Shown("Number of sectors N = " + std::to_string(p.N) +
                 " is out of range (allowed: 2 or more)!");
  // After the basic checks only infinities can remain among these (a value that is not a number
  // has failed its check already); an energy may also overflow on conversion to joules.
  if (!std::isfinite(q.ekEnd))
    return Shown("EkEnd = " + Num(p.EkEnd) + " MeV is out of range (allowed: a finite number)!");
  if (!std::isfinite(q.dEk))
    return Shown("dEk = " + Num(p.dEk) + " MeV is out of range (allowed: a finite number)!");
  if (!std::isfinite(p.TIs))
    return Shown("TIs = " + Num(p.TIs) + " rad is out of range (allowed: a finite number)!");
  if (!std::isfinite(p.h))
    return Shown("h = " + Num(p.h) + " rad is out of range (allowed: a finite number)!");
  return {};
}

// The energies of the run: n = round((EkEnd - EkBegin) / dEk) + 1, halves away from zero, as a
// 32-bit integer.
Outcome StepEnergies(const RunParameters& p, RunQuantities& q) {
  const double steps = std::round((q.ekEnd - q.ekBegin) / q.dEk) + 1;
  if (!(steps >= 1 && steps <= std::numeric_limits<int32_t>::max()))
    return Shown("Energy step dEk = " + Num(p.dEk) + " MeV gives " + Num(steps) +
                 " energies (allowed: 1 to 2147483647)!");
  q.n = static_cast<int32_t>(steps);
  try {
    q.Ek.reserve(static_cast<size_t>(q.n));
  } catch (const std::bad_alloc&) {
    return Shown("Energy step dEk = " + Num(p.dEk) + " MeV gives " + std::to_string(q.n) +
                 " energies, more than memory can hold (allowed: fewer energies)!");
  } catch (const std::length_error&) {
    return Shown("Energy step dEk = " + Num(p.dEk) + " MeV gives " + std::to_string(q.n) +
                 " energies, more than memory can hold (allowed: fewer energies)!");
  }
  // A running sum, not i * dEk: the energies are the ones the user steps through.
  double ek = q.ekBegin;  // J
  for (int32_t i = 0; i < q.n; ++i) {
    q.Ek.push_back(ek);
    ek = ek + q.dEk;
  }
  return {};
}

}  // namespace

Result<RunQuantities> DeriveRunQuantities(const RunParameters& p) {
  RunQuantities q;
  q.rfFrequency = p.Frf * 1000000;  // Hz
  const double sign = p.ChargeSign == 1 ? -1.0 : 1.0;
  q.charge = sign * p.Q * kElementaryCharge;  // C
  q.restMass = p.m0 * kKilogramsPerSamu;      // kg
  q.ekBegin = MeVToJoules(p.EkBegin);         // J
  q.ekEnd = MeVToJoules(p.EkEnd);             // J
  q.dEk = MeVToJoules(p.dEk);                 // J

  if (Outcome basics = CheckBasics(p, q); !basics) return basics;
  if (Outcome divisors = CheckDivisors(p, q); !divisors) return divisors;
  if (Outcome energies = StepEnergies(p, q); !energies) return energies;
  return q;
}

}  // namespace zuba
