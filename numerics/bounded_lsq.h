// Linear least squares with bounds on the unknowns, and smoothing least squares with the strength
// of the smoothing chosen from the data.
//
// Bounded least squares: minimise |A x - b|² subject to
// lower <= x <= upper, by the bounded-variable active-set method (the Lawson-Hanson active set
// extended to two-sided bounds): the unknowns are split into free ones, solved for by least
// squares, and ones held at a bound; a free unknown whose least-squares value leaves its range is
// stopped at the bound it meets first, and an unknown at a bound is freed again when the gradient
// of the residual asks it to move inwards. Rank-deficient problems are solved in the minimum-norm
// sense on the free unknowns.
#pragma once

#include <Eigen/Dense>
#include <vector>

namespace zuba {

struct BoundedLeastSquares {
  Eigen::VectorXd x;          // the solution
  std::vector<bool> atBound;  // per unknown: held at its lower or upper bound
  double residualNorm = 0;    // |A x - b|
  int iterations = 0;         // active-set changes made
  bool converged = false;     // the optimality conditions hold (false: iteration limit reached)
};

// lower and upper may hold -infinity and +infinity; lower <= upper for every unknown.
BoundedLeastSquares SolveBoundedLeastSquares(const Eigen::MatrixXd& A, const Eigen::VectorXd& b,
                                             const Eigen::VectorXd& lower,
                                             const Eigen::VectorXd& upper);

// The 2-norm condition number of A with its columns scaled to unit length (so that the units of
// the unknowns do not count): largest over smallest singular value; infinity when a column is zero
// or the columns are dependent.
double ScaledConditionNumber(const Eigen::MatrixXd& A);

// The two columns of A that are most alike: the pair with the largest |cosine| between them
// (first < second; both -1 when A has fewer than two columns).
struct AlikeColumns {
  Eigen::Index first = -1, second = -1;
  double cosine = 0;  // signed
};
AlikeColumns MostAlikeColumns(const Eigen::MatrixXd& A);

struct SmoothedLeastSquares {
  Eigen::VectorXd x;             // the solution
  double weight = 0;             // λ chosen, relative to trace(AᵀA) / trace(LᵀL)
  double effectiveUnknowns = 0;  // trace of the influence matrix A (AᵀA + λ LᵀL)⁻¹ Aᵀ
  double residualNorm = 0;       // |A x - b|
};

// Smoothing least squares: minimise |A x - b|² + λ |L x|², λ chosen by cross-validation that
// leaves out neighbours: row i is predicted by the solution fitted to every row but i and those
// leftOut[i] names (one list per row; rows whose errors share a cause with row i's, which a fit
// that kept them would follow and so predict row i too well), and λ minimises the sum of squares of
// those prediction errors, searched over 1e-10 .. 1e6 of trace(AᵀA) / trace(LᵀL) in twentieths of a
// decade (among equal sums the least λ). With leftOut[i] empty for every row this is ordinary
// leave-one-out cross-validation. With no more rows than unknowns, nothing is left to
// cross-validate with and the least λ is taken (the smoothest of the exact fits). Each left-out
// problem is diagonalised once by the generalised eigenvectors of (LᵀL, AᵀA + LᵀL), so every λ
// costs only a product. Directions of x that A does not see (to 1e-12 of its largest) are left at
// zero; an L without rows gives the minimum-norm least-squares solution.
SmoothedLeastSquares SolveSmoothedLeastSquares(
    const Eigen::MatrixXd& A, const Eigen::VectorXd& b, const Eigen::MatrixXd& L,
    const std::vector<std::vector<Eigen::Index>>& leftOut);

}  // namespace zuba
