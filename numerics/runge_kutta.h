// Fourth-order Runge-Kutta integration, in two parts: the *system* (the equations of motion) and
// the *stepper* (one step of the scheme). The loop over the steps stays with each caller, which
// records its samples and decides where the integration ends.
//
// A system is a callable
//   bool system(double t, const std::array<double, N>& y, std::array<double, N>& dydt)
// that writes the derivatives at (t, y) into dydt and returns true, or false (or anything that
// converts to false) when it refuses the point; the step then stops and returns false.
//
// The stepper takes the classical step of size h:
//   k1 = f(t, y),  k2 = f(t + h/2, y + h/2 k1),  k3 = f(t + h/2, y + h/2 k2),  k4 = f(t + h, y + h
//   k3) y(t + h) = y + h/6 (k1 + 2 k2 + 2 k3 + k4).
// In floating point the scheme can be written with different roundings, and a long integration
// carries them into its results. The *form* (the template parameter) fixes the rounding: where h
// multiplies and in which order the stages are summed. The two forms of the program are below.
#pragma once

#include <array>
#include <cstddef>
#include <utility>

namespace zuba {

// The stages hold slopes f: stage points y + h/2 * k and y + h * k, new state
// y + h/6 * (k1 + 2 k2 + 2 k3 + k4).
struct SlopeForm {
  static double Stage(double /*h*/, double f) { return f; }
  static double HalfPoint(double y, double k, double h) { return y + h / 2 * k; }
  static double FullPoint(double y, double k, double h) { return y + h * k; }
  static double Combine(double y, double k1, double k2, double k3, double k4, double h) {
    return y + h / 6 * (k1 + 2 * k2 + 2 * k3 + k4);
  }
};

// The stages hold increments h f: stage points y + k/2 and y + k, new state
// y + (2 k2 + k1 + 2 k3 + k4) * 0.16666666666666666 (1/6 as a constant, summed in this order).
struct IncrementForm {
  static double Stage(double h, double f) { return h * f; }
  static double HalfPoint(double y, double k, double /*h*/) { return y + k / 2; }
  static double FullPoint(double y, double k, double /*h*/) { return y + k; }
  static double Combine(double y, double k1, double k2, double k3, double k4, double /*h*/) {
    return y + (2 * k2 + k1 + 2 * k3 + k4) * 0.16666666666666666;
  }
};

namespace runge_kutta_detail {
// f(0), f(1), ..., f(N - 1), written out: with constant indices a small state stays in registers.
template <std::size_t N, class F>
inline void ForEach(F&& f) {
  [&]<std::size_t... i>(std::index_sequence<i...>) {
    (f(i), ...);
  }
  (std::make_index_sequence<N>{});
}
}  // namespace runge_kutta_detail

template <class Form>
struct RungeKutta4 {
  // One step from (t, y) to t + h; y becomes the new state. False when the system refused a point
  // (y is then unchanged).
  template <class System, std::size_t N>
  static bool Step(System&& system, std::array<double, N>& y, double t, double h) {
    std::array<double, N> dydt;
    if (!system(t, std::as_const(y), dydt)) return false;
    return Step(system, y, dydt, t, h);
  }

  // The same step when the caller has already evaluated dydt = f(t, y), for instance to record
  // what the evaluation at the step's start gave.
  template <class System, std::size_t N>
  static bool Step(System&& system, std::array<double, N>& y, const std::array<double, N>& dydt,
                   double t, double h) {
    using runge_kutta_detail::ForEach;
    std::array<double, N> k1, k2, k3, k4, point, f{};
    ForEach<N>([&](std::size_t i) {
      k1[i] = Form::Stage(h, dydt[i]);
      point[i] = Form::HalfPoint(y[i], k1[i], h);
    });
    if (!system(t + h / 2, std::as_const(point), f)) return false;
    ForEach<N>([&](std::size_t i) {
      k2[i] = Form::Stage(h, f[i]);
      point[i] = Form::HalfPoint(y[i], k2[i], h);
    });
    if (!system(t + h / 2, std::as_const(point), f)) return false;
    ForEach<N>([&](std::size_t i) {
      k3[i] = Form::Stage(h, f[i]);
      point[i] = Form::FullPoint(y[i], k3[i], h);
    });
    if (!system(t + h, std::as_const(point), f)) return false;
    ForEach<N>([&](std::size_t i) {
      k4[i] = Form::Stage(h, f[i]);
      y[i] = Form::Combine(y[i], k1[i], k2[i], k3[i], k4[i], h);
    });
    return true;
  }
};

}  // namespace zuba
