// Checks of a prepared run before it starts: whether the ion, the RF and the energies fit the field
// map at all. Each finding is one line of text that names the quantity and what to check; the
// command line, the desktop program and any other front end show the same lines.
#pragma once

#include <string>
#include <vector>

#include "calc/run/prepared_run.h"

namespace zuba {

// A relative difference between Frf/H and the ion's revolution frequency in the map's mean field
// above which the run is implausible.
inline constexpr double kFrequencyMismatch = 0.2;

// The warnings of a run whose record has been prepared (map, ion, RF and energies; nothing of the
// worker is needed). A map with values that are not finite or beyond 100 T gets that one warning;
// otherwise, in this order, each only where it applies:
//  - the ion turns against the azimuth in this field (ChargeSign against the field's sign);
//  - Frf/H differs by more than kFrequencyMismatch from the ion's revolution frequency in the
//    map's azimuthal mean field at the mean-field radii of its energies;
//  - N differs from the map's symmetry (its strongest azimuthal harmonic over those radii);
//  - energies that no radius of the map can bend (p > |q| B(R) R everywhere), and energies whose
//    mean-field radius lies below the map's first radius, named as energy ranges;
//  - the mean field changes sign between the map's first radius and the largest radius an energy
//    could reach.
// The mean-field radius of an energy is the smallest radius where |q| B(R) R reaches its
// momentum, B the azimuthal mean of the map at the radius nodes, linear between them (below the
// first node the mean field of the first node).
std::vector<std::string> RunWarnings(const PreparedRun& record);

}  // namespace zuba
