// One-dimensional interpolation kernels: the three-point parabola, the derivative of a tabulated
// function at a node, the natural cubic spline, and the value of a tabulated function anywhere on
// its table (spline inside, parabolas at the two ends). Abscissae are radii (m) or azimuths (rad);
// the kernels themselves carry no unit. Every operation returns its outcome: success, or what
// failed with the value at fault; its output values are not to be used after a failure. A failure
// that these kernels report without a message of their own is quiet (Failure::quiet).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/outcome.h"

namespace zuba {

// Value at x of the parabola through (x0, y0), (x1, y1), (x2, y2), evaluated in the expanded
// monomial form S·x² − L·x + C. Fails quietly unless x0 < x1 < x2.
Outcome ParabolaValue(double x0, double y0, double x1, double y1, double x2, double y2, double x,
                      double& y);

// First derivative d1 at node k (0, 1, anything else means 2) and second derivative d2 of the same
// parabola. Fails quietly unless x0 < x1 < x2.
Outcome ParabolaDerivative(double x0, double y0, double x1, double y1, double x2, double y2, int k,
                           double& d1, double& d2);

// First and second derivative of the tabulated function (X, Y) at node i, the average of the
// derivatives of the parabolas through node i and its neighbours. Needs n >= 3.
Outcome NodeDerivative(std::span<const double> X, std::span<const double> Y, int32_t n, int32_t i,
                       double& d1, double& d2);

// Natural cubic spline through (X, Y): steps h (h[0] = 0, h[i] = X[i] − X[i−1]) and moments M
// (second derivatives, zero at both ends). Needs n >= 2 strictly increasing abscissae.
Outcome SplineSetup(std::span<const double> X, std::span<const double> Y, int32_t n,
                    std::vector<double>& h, std::vector<double>& M);

// The tridiagonal system of the spline moments: sub-diagonal a, diagonal b, super-diagonal c,
// right-hand side d (entries 0 and n−1 are zero), and the steps h.
Outcome AssembleSplineSystem(std::span<const double> X, std::span<const double> Y, int32_t n,
                             std::vector<double>& h, std::vector<double>& a, std::vector<double>& b,
                             std::vector<double>& c, std::vector<double>& d);

// Solves the system by forward elimination and back substitution without pivoting; M[0] and
// M[n−1] are zero.
Outcome SolveTridiagonal(std::span<const double> a, std::span<const double> b,
                         std::span<const double> c, std::span<const double> d, int32_t n,
                         std::vector<double>& M);

// Spline value at x; serves only X[1] <= x < X[n−2] (the end intervals belong to the parabolas).
Outcome SplineValue(std::span<const double> h, std::span<const double> M, std::span<const double> X,
                    std::span<const double> Y, int32_t n, double x, double& y);

// Value of the tabulated function at x: the parabola through the first three nodes below X[1],
// the spline inside, the parabola through the last three nodes from X[n−2] up to X[n−1]
// inclusive. Refuses x above the last node. Builds its spline afresh on every call.
Outcome InterpolateTable(std::span<const double> X, std::span<const double> Y, double x, double& y);

// Interval of x in a strictly increasing table of n >= 3 nodes, by the rule InterpolateTable and
// InterpolateField share: the first i in 0..n−3 with X[i] <= x < X[i+1]; x below X[0] belongs to
// interval 0, [X[n−2], X[n−1]) to n−2, x = X[n−1] to n−1. Returns −1 for x above the last node or
// not a number (the caller reports its own failure).
int32_t FindInterval(std::span<const double> X, double x);

}  // namespace zuba
