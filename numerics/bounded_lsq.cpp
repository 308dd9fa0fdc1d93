// Bounded-variable least squares by the active-set method (see bounded_lsq.h).
#include "numerics/bounded_lsq.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zuba {
namespace {

enum class Place { Free, Lower, Upper };

// Least squares of b over the free columns of A with the others held: the free values.
Eigen::VectorXd SolveFree(const Eigen::MatrixXd& A, const Eigen::VectorXd& b,
                          const Eigen::VectorXd& x, const std::vector<Place>& place) {
  const Eigen::Index n = A.cols();
  std::vector<Eigen::Index> free;
  Eigen::VectorXd rhs = b;
  for (Eigen::Index j = 0; j < n; ++j) {
    if (place[j] == Place::Free)
      free.push_back(j);
    else
      rhs -= A.col(j) * x[j];
  }
  Eigen::VectorXd z = x;
  if (free.empty()) return z;
  Eigen::MatrixXd Af(A.rows(), static_cast<Eigen::Index>(free.size()));
  for (std::size_t k = 0; k < free.size(); ++k)
    Af.col(static_cast<Eigen::Index>(k)) = A.col(free[k]);
  const Eigen::VectorXd zf = Af.completeOrthogonalDecomposition().solve(rhs);
  for (std::size_t k = 0; k < free.size(); ++k) z[free[k]] = zf[static_cast<Eigen::Index>(k)];
  return z;
}

// Zero brought into the box: an unknown whose range excludes zero starts at the bound nearest to
// it, held there.
void StartInBox(const Eigen::VectorXd& lower, const Eigen::VectorXd& upper, Eigen::VectorXd& x,
                std::vector<Place>& place) {
  for (Eigen::Index j = 0; j < x.size(); ++j) {
    if (lower[j] >= 0) {
      x[j] = lower[j];
      place[j] = Place::Lower;
    } else if (upper[j] <= 0) {
      x[j] = upper[j];
      place[j] = Place::Upper;
    }
  }
}

// Least squares on the free unknowns, stepping back to the box whenever the solution leaves it;
// every unknown that reaches its bound (within rounding) is held there.
void SolveWithinBox(const Eigen::MatrixXd& A, const Eigen::VectorXd& b,
                    const Eigen::VectorXd& lower, const Eigen::VectorXd& upper, Eigen::VectorXd& x,
                    std::vector<Place>& place) {
  const Eigen::Index n = A.cols();
  for (int inner = 0; inner <= n; ++inner) {
    const Eigen::VectorXd z = SolveFree(A, b, x, place);
    double alpha = 1;
    Eigen::Index hit = -1;
    for (Eigen::Index j = 0; j < n; ++j) {
      if (place[j] != Place::Free) continue;
      const double step = z[j] - x[j];
      if (z[j] > upper[j] && step > 0) {
        const double a = (upper[j] - x[j]) / step;
        if (a < alpha) alpha = a, hit = j;
      } else if (z[j] < lower[j] && step < 0) {
        const double a = (lower[j] - x[j]) / step;
        if (a < alpha) alpha = a, hit = j;
      }
    }
    if (hit < 0) {
      for (Eigen::Index j = 0; j < n; ++j)
        if (place[j] == Place::Free) x[j] = z[j];
      return;
    }
    alpha = std::clamp(alpha, 0.0, 1.0);
    for (Eigen::Index j = 0; j < n; ++j) {
      if (place[j] != Place::Free) continue;
      x[j] += alpha * (z[j] - x[j]);
      if (j == hit || x[j] >= upper[j] || x[j] <= lower[j]) {
        const bool up = j == hit ? z[j] > upper[j] : x[j] >= upper[j];
        x[j] = up ? upper[j] : lower[j];
        place[j] = up ? Place::Upper : Place::Lower;
      }
    }
  }
}

// Optimality: an unknown at its lower bound must not gain by rising, one at its upper bound not by
// falling. The one that gains most (by more than the tolerance), or -1 at the optimum.
Eigen::Index MostGainingBound(const Eigen::MatrixXd& A, const Eigen::VectorXd& b,
                              const Eigen::VectorXd& lower, const Eigen::VectorXd& upper,
                              const Eigen::VectorXd& x, const std::vector<Place>& place,
                              double gradientTolerance) {
  const Eigen::VectorXd gradient = A.transpose() * (b - A * x);  // descent direction
  Eigen::Index best = -1;
  double bestGain = gradientTolerance;
  for (Eigen::Index j = 0; j < A.cols(); ++j) {
    if (lower[j] == upper[j]) continue;  // fixed by its bounds
    const double gain = place[j] == Place::Lower   ? gradient[j]
                        : place[j] == Place::Upper ? -gradient[j]
                                                   : 0.0;
    if (gain > bestGain) bestGain = gain, best = j;
  }
  return best;
}

}  // namespace

BoundedLeastSquares SolveBoundedLeastSquares(const Eigen::MatrixXd& A, const Eigen::VectorXd& b,
                                             const Eigen::VectorXd& lower,
                                             const Eigen::VectorXd& upper) {
  const Eigen::Index n = A.cols();
  BoundedLeastSquares out;
  out.x = Eigen::VectorXd::Zero(n);
  std::vector<Place> place(static_cast<std::size_t>(n), Place::Free);
  StartInBox(lower, upper, out.x, place);
  // Relative tolerance of the optimality test on the gradient.
  const double scale = std::max(1.0, A.norm() * (b.norm() + 1e-300));
  const double gradientTolerance = 1e-12 * scale;
  const int maxIterations = static_cast<int>(10 * n + 20);

  for (out.iterations = 0; out.iterations < maxIterations; ++out.iterations) {
    SolveWithinBox(A, b, lower, upper, out.x, place);
    // Free the bound unknown that gains most.
    const Eigen::Index best = MostGainingBound(A, b, lower, upper, out.x, place, gradientTolerance);
    if (best < 0) {
      out.converged = true;
      break;
    }
    place[best] = Place::Free;
  }
  out.atBound.resize(static_cast<std::size_t>(n));
  for (Eigen::Index j = 0; j < n; ++j) out.atBound[j] = place[j] != Place::Free;
  out.residualNorm = (A * out.x - b).norm();
  return out;
}

double ScaledConditionNumber(const Eigen::MatrixXd& A) {
  if (A.cols() == 0 || A.rows() == 0) return std::numeric_limits<double>::infinity();
  Eigen::MatrixXd scaled = A;
  for (Eigen::Index j = 0; j < A.cols(); ++j) {
    const double norm = A.col(j).norm();
    if (!(norm > 0)) return std::numeric_limits<double>::infinity();
    scaled.col(j) /= norm;
  }
  const Eigen::JacobiSVD<Eigen::MatrixXd> svd(scaled);
  const Eigen::VectorXd& s = svd.singularValues();
  const double smallest = s[s.size() - 1];
  if (!(smallest > 0) || s.size() < A.cols()) return std::numeric_limits<double>::infinity();
  return s[0] / smallest;
}

AlikeColumns MostAlikeColumns(const Eigen::MatrixXd& A) {
  AlikeColumns out;
  for (Eigen::Index i = 0; i < A.cols(); ++i)
    for (Eigen::Index j = i + 1; j < A.cols(); ++j) {
      const double norms = A.col(i).norm() * A.col(j).norm();
      const double cosine = norms > 0 ? A.col(i).dot(A.col(j)) / norms : 0;
      if (out.first < 0 || std::fabs(cosine) > std::fabs(out.cosine)) out = {i, j, cosine};
    }
  return out;
}

namespace {

// P v = mu (G + P) v with vᵀ (G + P) v = 1: then Gv = (1 - mu)(G + P) v, and x_λ has the
// coordinates w_k / (1 - mu_k + λ mu_k) with w = Vᵀ Aᵀ b.
struct Diagonalised {
  Eigen::MatrixXd V;
  Eigen::VectorXd mu, w;
};

Diagonalised Diagonalise(const Eigen::MatrixXd& P, const Eigen::MatrixXd& G,
                         const Eigen::VectorXd& Atb) {
  const Eigen::GeneralizedSelfAdjointEigenSolver<Eigen::MatrixXd> eigen(P, G + P);
  Diagonalised d{eigen.eigenvectors(), eigen.eigenvalues().cwiseMax(0.0).cwiseMin(1.0), {}};
  d.w = d.V.transpose() * Atb;
  return d;
}

// Coordinate k of x_λ; directions G does not see (to 1e-12) stay at zero.
double Coordinate(const Diagonalised& d, Eigen::Index k, double lambda) {
  const double seen = 1 - d.mu[k];
  return seen > 1e-12 ? d.w[k] / (seen + lambda * d.mu[k]) : 0.0;
}

constexpr int kLowest = -200, kHighest = 120;  // λ = 10^(step / 20)
double LambdaOf(int step) {
  return std::pow(10.0, step / 20.0);
}

// Each row predicted from the fit to the rows it is not left out with: the sum of squares of the
// prediction errors per λ (from kLowest on). With no more equations than unknowns nothing is
// left to cross-validate with: every score is zero.
std::vector<double> CrossValidationScores(const Eigen::MatrixXd& A, const Eigen::VectorXd& b,
                                          const Eigen::MatrixXd& G, const Eigen::VectorXd& Atb,
                                          const Eigen::MatrixXd& P,
                                          const std::vector<std::vector<Eigen::Index>>& leftOut) {
  const Eigen::Index n = A.cols(), m = A.rows();
  std::vector<double> score(kHighest - kLowest + 1, 0.0);
  const std::vector<Eigen::Index> none;
  for (Eigen::Index i = 0; m > n && i < m; ++i) {
    Eigen::MatrixXd Gpart = G;
    Eigen::VectorXd Atbpart = Atb;
    bool self = false;
    const auto row = static_cast<std::size_t>(i);
    for (Eigen::Index r : row < leftOut.size() ? leftOut[row] : none) {
      Gpart -= A.row(r).transpose() * A.row(r);
      Atbpart -= A.row(r).transpose() * b[r];
      self = self || r == i;
    }
    if (!self) {
      Gpart -= A.row(i).transpose() * A.row(i);
      Atbpart -= A.row(i).transpose() * b[i];
    }
    const Diagonalised d = Diagonalise(P, Gpart, Atbpart);
    const Eigen::RowVectorXd aV = A.row(i) * d.V;
    for (int step = kLowest; step <= kHighest; ++step) {
      const double lambda = LambdaOf(step);
      double predicted = 0;
      for (Eigen::Index k = 0; k < n; ++k) predicted += aV[k] * Coordinate(d, k, lambda);
      score[static_cast<std::size_t>(step - kLowest)] += (predicted - b[i]) * (predicted - b[i]);
    }
  }
  return score;
}

}  // namespace

SmoothedLeastSquares SolveSmoothedLeastSquares(
    const Eigen::MatrixXd& A, const Eigen::VectorXd& b, const Eigen::MatrixXd& L,
    const std::vector<std::vector<Eigen::Index>>& leftOut) {
  SmoothedLeastSquares out;
  const Eigen::Index n = A.cols();
  const Eigen::MatrixXd G = A.transpose() * A;
  const double traceG = G.trace();
  const double traceP = L.rows() > 0 ? L.squaredNorm() : 0.0;
  if (!(traceG > 0) || !(traceP > 0)) {
    out.x = A.completeOrthogonalDecomposition().solve(b);
    out.effectiveUnknowns = static_cast<double>(n);
    out.residualNorm = (A * out.x - b).norm();
    return out;
  }
  // The penalty scaled to the data's size, with a ridge far below it so that G + P is positive
  // definite also when A and L both miss a direction.
  const double scale = traceG / traceP;
  Eigen::MatrixXd P = scale * (L.transpose() * L);
  P.diagonal().array() += 1e-13 * traceG / static_cast<double>(n);
  const Eigen::VectorXd Atb = A.transpose() * b;
  // The least score; among equal ones the least smoothing (without rows to cross-validate with,
  // the smoothest of the exact fits, the least λ).
  const std::vector<double> score = CrossValidationScores(A, b, G, Atb, P, leftOut);
  int best = kLowest;
  for (int step = kLowest; step <= kHighest; ++step)
    if (score[static_cast<std::size_t>(step - kLowest)] <
        score[static_cast<std::size_t>(best - kLowest)])
      best = step;
  const Diagonalised all = Diagonalise(P, G, Atb);
  const double lambda = LambdaOf(best);
  Eigen::VectorXd coordinates(n);
  out.effectiveUnknowns = 0;
  for (Eigen::Index k = 0; k < n; ++k) {
    coordinates[k] = Coordinate(all, k, lambda);
    const double seen = 1 - all.mu[k];
    out.effectiveUnknowns += seen > 1e-12 ? seen / (seen + lambda * all.mu[k]) : 0.0;
  }
  out.x = all.V * coordinates;
  out.weight = lambda;
  out.residualNorm = (A * out.x - b).norm();
  return out;
}

}  // namespace zuba
