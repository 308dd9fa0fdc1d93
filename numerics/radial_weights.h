// The radial interpolation of a field map as weights of its node values, for the response of
// closed orbits to a change of the map.
#pragma once

#include <cstddef>
#include <vector>

namespace zuba {

// The map's radial interpolation (spline inside, parabolas in the two end intervals) written as
// weights of the node values: Weights(R)[j] is the field at R of a map that is 1 at radius node j
// and 0 elsewhere. A change of the node values therefore changes the field at R by
// Σ_j Weights(R)[j] ΔB_j, exactly as the field evaluation sees it.
class RadialWeights {
 public:
  explicit RadialWeights(std::vector<double> radii);
  // Adds factor * Weights(R) to sum (length of the radius table).
  void Accumulate(double R, double factor, std::vector<double>& sum) const;
  std::size_t Count() const { return radii_.size(); }

 private:
  std::vector<double> radii_;    // m
  std::vector<double> moments_;  // n x n: column j holds the spline moments of the unit map j
};

}  // namespace zuba
