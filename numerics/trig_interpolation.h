// Trigonometric interpolation of the samples of one period: the trigonometric polynomial of the
// lowest degree through n equally spaced samples (for an even n the highest term is the cosine of
// n/2 periods, split evenly between +n/2 and -n/2), evaluated anywhere in the period. A periodic
// function without harmonics of n/2 or more is reproduced exactly, up to rounding.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace zuba {

// The cardinal function of n samples at 0, 1, ..., n - 1 (period n): 1 at 0 and at every
// multiple of n, 0 at the other sample points; x in units of the sample step.
double PeriodicCardinal(int32_t n, double x);

// Interpolation of rows of n samples to fixed points (the same resampling of every radius of a
// map). The weights of one point at a time are formed and applied to every row, so that memory
// stays that of one row of weights however many points and samples there are.
class PeriodicResampler {
 public:
  // points: where the values are wanted, in units of the sample step (period n).
  PeriodicResampler(int32_t n, std::span<const double> points);

  // rows: whole rows of n samples one after the other; out: as many rows of points.size()
  // values, out[r][i] the interpolant of row r at points[i].
  void Apply(std::span<const double> rows, std::span<double> out) const;

 private:
  int32_t n_ = 0;
  std::vector<double> points_;
};

}  // namespace zuba
