// Linear least squares with bounds on the unknowns: minimise |A x - b|² subject to
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

}  // namespace zuba
