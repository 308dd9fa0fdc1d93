// Field map files written by the tests themselves from known fields: the polar text map, the
// measured-record map (fixed-width fields that touch when a value is negative) and column tables.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace zuba::test {

inline const double kTestPi = 4 * std::atan(1.0);

// B(r, θ) = mean(r) + Σ a_h (1 + r) cos(hθ + φ_h·r), in T; r in m, θ in rad.
struct KnownField {
  struct Harmonic {
    int h;
    double amplitude;  // T
    double spiral;     // rad per m
  };
  double mean = 1.2;   // T
  double slope = 0.3;  // T per m
  std::vector<Harmonic> harmonics{{4, 0.3, 0.5}, {8, 0.05, -1.0}};

  double operator()(double r, double theta) const { return Derivative(r, theta, 0); }
  // The k-th derivative in θ.
  double Derivative(double r, double theta, int k) const {
    double b = k == 0 ? mean + slope * r : 0;
    for (const Harmonic& w : harmonics)
      b += w.amplitude * (1 + r) * std::pow(w.h, k) *
           std::cos(w.h * theta + w.spiral * r + k * kTestPi / 2);
    return b;
  }
};

// The mesh of a file: radii in mm, azimuths in degrees.
struct Mesh {
  double rMinMm = 100, dRMm = 10;
  int nR = 4;
  double thetaMinDeg = 0, dThetaDeg = 1;
  int nTheta = 360;
  double R(int i) const { return (rMinMm + i * dRMm) / 1000; }                         // m
  double Theta(int j) const { return (thetaMinDeg + j * dThetaDeg) * kTestPi / 180; }  // rad
};

inline std::string Printf(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

// The polar map: six header lines (the steps as given, "-3" for 1/3), then B in kG, perLine values
// a line separated by `separator`.
inline std::string PolarFile(const Mesh& m, const KnownField& f, const std::string& dThetaText,
                             int perLine = 7, const char* separator = " ") {
  std::string text = Printf("%.10g", m.rMinMm) + "\n" + Printf("%.10g", m.dRMm) + "\n" +
                     Printf("%.10g", m.thetaMinDeg) + "\n" + dThetaText + "\n" +
                     std::to_string(m.nTheta) + "\n" + std::to_string(m.nR) + "\n";
  int k = 0;
  for (int i = 0; i < m.nR; ++i)
    for (int j = 0; j < m.nTheta; ++j, ++k) {
      text += Printf("%.12g", f(m.R(i), m.Theta(j)) * 10);
      text += (k % perLine == perLine - 1) ? "\n" : separator;
    }
  return text + "\n";
}

// Numbers in fields of 16 characters, five a line: "-1.400000000E+01" fills its field, so that
// negative values touch the value before them.
inline void AppendFields(std::string& text, const std::vector<double>& values, const char* format) {
  for (size_t k = 0; k < values.size(); ++k) {
    text += Printf(format, values[k]);
    if (k % 5 == 4 || k + 1 == values.size()) text += "\n";
  }
}

// The measured-record map: four header lines, the labelled blocks, then one record per radius of
// B, ∂B/∂θ, ∂²B/∂θ², ∂³B/∂θ³ in kG (θ in rad).
inline std::string RecordFile(const Mesh& m, const KnownField& f, const std::string& dThetaText,
                              int sectors) {
  std::string text = Printf("%.10g", m.rMinMm) + "\n" + Printf("%.10g", m.dRMm) + "\n" +
                     Printf("%.10g", m.thetaMinDeg) + "\n" + dThetaText + "\n";
  text += " LABEL=TEST MAP  \n";
  text += " CFELD=FIELD     NREC=" + Printf("%5.0f", m.nR) + "      NPAR=    3\n";
  text += " LPAR=    7      IENT=    1      IPAR=    1\n";
  AppendFields(text, {3, double(m.nR), double(m.nTheta), 0, double(sectors), 4, 20}, "%16.0f");
  std::vector<double> machine = {1, m.rMinMm, m.dRMm, m.thetaMinDeg, m.dThetaDeg};
  for (int i = 0; i < m.nR; ++i) machine.push_back(f.mean * 10);
  text += " LPAR=" + Printf("%5.0f", machine.size()) + "      IENT=    2      IPAR=    2\n";
  AppendFields(text, machine, "%16.9E");
  text += " LPAR=   20      IENT=    3      IPAR=    3\n TEST SECTOR MAP    \n";
  for (int i = 0; i < m.nR; ++i) {
    text += " LREC=" + Printf("%5.0f", 4 * m.nTheta) +
            "      IENT=    2      IREC=" + Printf("%5.0f", i + 1) + "\n";
    std::vector<double> record;
    for (int k = 0; k < 4; ++k)
      for (int j = 0; j < m.nTheta; ++j) record.push_back(f.Derivative(m.R(i), m.Theta(j), k) * 10);
    AppendFields(text, record, "%16.9E");
  }
  return text;
}

// A column table of every node in a shuffled order. header: the first line ("" for none);
// separator between the fields; the columns in the units rScale (per m), thetaDegrees and bScale
// (per T).
inline std::string TableFile(const Mesh& m, const KnownField& f, const std::string& header,
                             const char* separator, double rScale, bool thetaDegrees,
                             double bScale) {
  std::vector<int> order(static_cast<size_t>(m.nR * m.nTheta));
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), std::mt19937(12345));
  std::string text = header.empty() ? "" : header + "\n";
  for (int node : order) {
    const int i = node / m.nTheta, j = node % m.nTheta;
    const double theta = thetaDegrees ? m.thetaMinDeg + j * m.dThetaDeg : m.Theta(j);
    text += Printf("%.15g", m.R(i) * rScale) + separator + Printf("%.15g", theta) + separator +
            Printf("%.15g", f(m.R(i), m.Theta(j)) * bScale) + "\n";
  }
  return text;
}

}  // namespace zuba::test
