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

// Interpolation of n samples to fixed points: one matrix, applied to as many sample rows as
// needed (the same resampling of every radius of a map).
class PeriodicResampler {
 public:
  // points: where the values are wanted, in units of the sample step (period n).
  PeriodicResampler(int32_t n, std::span<const double> points);

  // out[i] = the interpolant of samples at points[i]; samples.size() == n,
  // out.size() == points.size().
  void Apply(std::span<const double> samples, std::span<double> out) const;

  int32_t samples() const { return n_; }
  std::size_t points() const { return points_; }

 private:
  int32_t n_ = 0;
  std::size_t points_ = 0;
  std::vector<double> weights_;  // points × n, row by row
};

}  // namespace zuba
