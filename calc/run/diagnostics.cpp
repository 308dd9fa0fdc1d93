// Isochronism error, RF phase slip, self-consistency and vR residual of the energies of a run.
#include "calc/run/diagnostics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "calc/orbits/orbit.h"
#include "numerics/average_field.h"
#include "numerics/kinematics.h"
#include "numerics/units.h"
#include "platform/numbers.h"

namespace zuba {

double IsochronismError(double F0, int32_t H, double rfFrequency) {
  return F0 * H / rfFrequency - 1;
}

std::vector<double> PhaseSlip(std::span<const double> F0, int32_t H, double rfFrequency,
                              double dEkMeV, double gainPerTurnMeV) {
  std::vector<double> phase;
  if (F0.empty()) return phase;
  phase.reserve(F0.size());
  const double turns = dEkMeV / gainPerTurnMeV;  // turns from one energy to the next
  double phi = 0;                                // RF degrees
  size_t last = F0.size();                       // the last energy with F0, none yet
  for (size_t i = 0; i < F0.size(); ++i) {
    if (F0[i] == kNoValue) {
      phase.push_back(kNoValue);
      continue;
    }
    if (last < F0.size()) {
      const double energySteps = static_cast<double>(i - last);  // 1 but across a gap
      phi = phi + 360 * (rfFrequency / F0[last] - H) * turns * energySteps;
    }
    phase.push_back(phi);
    last = i;
  }
  return phase;
}

Diagnostics ComputeDiagnostics(const ResultTables& results, double gainPerTurnMeV) {
  Diagnostics d;
  const double rfFrequency = results.run.Frf * 1e6;  // Hz
  const int32_t H = results.run.H;
  const std::span<const double> F0 = results.F0.values();
  d.isochronism.reserve(F0.size());
  for (double f : F0)
    d.isochronism.push_back(f == kNoValue ? kNoValue : IsochronismError(f, H, rfFrequency));
  d.phaseDeg = PhaseSlip(F0, H, rfFrequency, results.run.dEk, gainPerTurnMeV);
  return d;
}

std::vector<double> FrequencyConsistency(const ResultTables& results) {
  const int64_t n = results.Ek.size();
  std::vector<double> consistency(static_cast<size_t>(n), kNoValue);
  const double mass = results.run.m0 * kKilogramsPerSamu;              // kg
  const double charge = std::fabs(results.run.Q * kElementaryCharge);  // C
  const double E0 = RestEnergy(mass);                                  // J
  if (!(mass > 0) || !(charge > 0)) return consistency;
  for (int64_t i = 0; i < n && i < results.F0.size() && i < results.Bmn.size(); ++i) {
    const double F0 = results.F0[i], Bmn = results.Bmn[i];
    if (F0 == kNoValue || Bmn == kNoValue || !(std::fabs(Bmn) > 0)) continue;
    const double gamma = KinematicsOf(results.Ek[i], E0).gamma;
    consistency[static_cast<size_t>(i)] =
        F0 * (kTwoPi * gamma * mass) / (charge * std::fabs(Bmn)) - 1;
  }
  return consistency;
}

std::vector<double> VrResiduals(const ResultTables& results) {
  const int64_t n = results.Ek.size();
  std::vector<double> residuals(static_cast<size_t>(n), kNoValue);
  const auto vR = results.OrbitVr.values();
  const auto theta = results.OrbitTheta.values();
  const auto tau = results.OrbitTau.values();
  const size_t stored = std::min({vR.size(), theta.size(), tau.size()});
  size_t offset = 0;
  for (int64_t i = 0; i < n && i < results.OrbitPoints.size(); ++i) {
    const int32_t points = results.OrbitPoints[i];
    if (points < 0 || offset + static_cast<size_t>(points) > stored) break;
    const bool hasF0 = i < results.F0.size() && results.F0[i] != kNoValue;
    if (points >= 3 && hasF0) {
      const size_t first = offset, i1 = offset + points - 3, i2 = i1 + 1, i3 = i1 + 2;
      const double end = theta[first] + kTwoPi;  // rad, one turn after the start
      double vREnd = vR[i3];
      if (theta[i3] != end) {
        const double tauTurn =
            Lagrange3(end, theta[i1], theta[i2], theta[i3], tau[i1], tau[i2], tau[i3]);
        vREnd = Lagrange3(tauTurn, tau[i1], tau[i2], tau[i3], vR[i1], vR[i2], vR[i3]);
      }
      residuals[static_cast<size_t>(i)] = vREnd - vR[first];
    }
    offset += static_cast<size_t>(points);
  }
  return residuals;
}

static_assert(kOrbitTolerance == kAcceptedClosureError,
              "the records mark as not accepted what the search does not accept");

std::string NotAcceptedReason() {
  return "the search did not close the orbit to 0.0005 m within " + std::to_string(kMaxTrials) +
         " trials; its last orbit is reported";
}

std::optional<std::string> AccuracyNote(const ResultTables& results) {
  if (results.closure.mode != 0) return std::nullopt;
  const std::vector<double> consistency = FrequencyConsistency(results);
  double worst = 0;
  size_t at = consistency.size();
  for (size_t i = 0; i < consistency.size(); ++i) {
    if (consistency[i] != kNoValue && std::fabs(consistency[i]) > worst) {
      worst = std::fabs(consistency[i]);
      at = i;
    }
  }
  if (!(worst > kAccuracyNoteThreshold)) return std::nullopt;
  return "Accuracy: the standard search leaves F0 uncertain by at least " +
         FormatNumber(worst, Scientific(1)) + " (worst at " +
         FormatNumber(JoulesToMeV(results.Ek[static_cast<int64_t>(at)]), Significant(4)) +
         " MeV); Precise Closed Orbits closes the orbit exactly.";
}

std::string EnergyRanges(std::span<const double> energies, const std::vector<bool>& chosen) {
  auto mev = [&energies](size_t i) {
    return FormatNumber(JoulesToMeV(energies[i]), Significant(4));
  };
  std::string ranges;
  const size_t n = std::min(energies.size(), chosen.size());
  for (size_t i = 0; i < n;) {
    if (!chosen[i]) {
      ++i;
      continue;
    }
    size_t last = i;
    while (last + 1 < n && chosen[last + 1]) ++last;
    if (!ranges.empty()) ranges += ", ";
    ranges += last == i ? mev(i) : mev(i) + "\u2013" + mev(last);
    i = last + 1;
  }
  return ranges.empty() ? ranges : ranges + " MeV";
}

std::optional<std::string> InnerEdgeNote(const ResultTables& results, double firstRadius) {
  if (results.closure.mode != 0) return std::nullopt;
  const auto R = results.OrbitR.values();
  const int64_t n = std::min(results.Ek.size(), results.OrbitPoints.size());
  std::vector<bool> below(static_cast<size_t>(n), false);
  bool any = false;
  size_t offset = 0;
  for (int64_t i = 0; i < n; ++i) {
    const int32_t points = results.OrbitPoints[i];
    if (points < 0 || offset + static_cast<size_t>(points) > R.size()) break;
    const auto orbit = R.subspan(offset, static_cast<size_t>(points));
    offset += static_cast<size_t>(points);
    if (!orbit.empty() && *std::min_element(orbit.begin(), orbit.end()) < firstRadius)
      any = below[static_cast<size_t>(i)] = true;
  }
  if (!any) return std::nullopt;
  return "Inner edge: the orbits of " + EnergyRanges(results.Ek.values(), below) +
         " run below the map's first radius (" + FormatNumber(firstRadius, Significant(6)) +
         " m), on field extrapolated from the map; the precise closure does not close them.";
}

double GainPerTurnOf(const ResultTables& results, double gainPerTurnMeV) {
  return results.closure.gainPerTurn > 0 ? results.closure.gainPerTurn : gainPerTurnMeV;
}

std::string PhaseTitle(double gainPerTurnMeV) {
  return "Phase (RF deg, " + FormatNumber(gainPerTurnMeV, Significant(6)) + " MeV/turn)";
}

ClosureColumns ClosureColumnsOf(const ResultTables& results, double gainPerTurnMeV) {
  ClosureColumns columns;
  const ClosureTables& closure = results.closure;
  gainPerTurnMeV = GainPerTurnOf(results, gainPerTurnMeV);
  columns.gainPerTurn = gainPerTurnMeV;
  const size_t n = static_cast<size_t>(results.Ek.size());
  columns.consistency = FrequencyConsistency(results);
  columns.vrResidual = VrResiduals(results);
  columns.reasons.assign(n, std::string());
  if (closure.mode == 1) {
    columns.precise = true;
    columns.isochronism = closure.isochronism.toVector();
    columns.phaseDeg = closure.phaseDeg.toVector();
    columns.nuR = closure.nuR.toVector();
    columns.nuZ = closure.nuZ.toVector();
    columns.status = closure.status.toVector();
    for (size_t i = 0; i < n && i < closure.reasons.size(); ++i)
      columns.reasons[i] = closure.reasons[i];
    return columns;
  }
  Diagnostics d = ComputeDiagnostics(results, gainPerTurnMeV);
  columns.isochronism = std::move(d.isochronism);
  columns.phaseDeg = std::move(d.phaseDeg);
  columns.status.assign(n, 0);
  for (size_t i = 0; i < n && i < static_cast<size_t>(results.dReo.size()); ++i) {
    if (std::fabs(results.dReo[static_cast<int64_t>(i)]) > kOrbitTolerance) {
      columns.status[i] = static_cast<int32_t>(1);
      columns.reasons[i] = NotAcceptedReason();
    }
  }
  return columns;
}

}  // namespace zuba
