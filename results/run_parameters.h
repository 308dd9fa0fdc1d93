// The run parameters of one calculation, in the units of the Input Data dialog. The same fourteen
// fields, in the same order, form the run description stored with the results.
#pragma once

#include <cstdint>
#include <string>

namespace zuba {

struct RunParameters {
  std::string Path;          // field map file
  std::string ParticleName;  // free name of the ion
  double EkBegin = 0;        // MeV, first kinetic energy
  double EkEnd = 0;          // MeV, last kinetic energy (nominal)
  double dEk = 0;            // MeV/step
  double Frf = 0;            // MHz, frequency of the accelerating voltage
  int32_t H = 0;             // harmonic number Frf / F0
  int32_t N = 0;             // number of magnet sectors
  int32_t ChargeSign = 0;    // 0 positive ion, 1 negative ion
  int32_t Q = 0;             // charge magnitude, elementary charges
  double m0 = 0;             // samu, rest mass
  double T0 = 0;             // rad, start of the integration variable tau
  double TIs = 0;            // rad, nominal end of tau
  double h = 0;              // rad/step, integration step

  bool operator==(const RunParameters&) const = default;
};

}  // namespace zuba
