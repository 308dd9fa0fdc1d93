// The colour scales of the map views (see colour_scale.h).
#include "graph/colour_scale.h"

#include <cmath>

namespace zuba {
namespace {

// Entries 0, 16, 32, ... 240 and 255 of the published viridis table, placed evenly on [0, 1].
constexpr unsigned char kControlPoints[17][3] = {
    {0x44, 0x01, 0x54}, {0x48, 0x18, 0x6a}, {0x47, 0x2d, 0x7b}, {0x42, 0x40, 0x86},
    {0x3b, 0x52, 0x8b}, {0x33, 0x63, 0x8d}, {0x2c, 0x72, 0x8e}, {0x26, 0x82, 0x8e},
    {0x21, 0x91, 0x8c}, {0x1f, 0xa0, 0x88}, {0x28, 0xae, 0x80}, {0x3f, 0xbc, 0x73},
    {0x5e, 0xc9, 0x62}, {0x84, 0xd4, 0x4b}, {0xad, 0xdc, 0x30}, {0xd8, 0xe2, 0x19},
    {0xfd, 0xe7, 0x25}};

// The diverging scale from blue through white to red: the eleven colours of the published
// red-blue diverging scheme, reversed so that negative values are blue, placed evenly on [0, 1].
constexpr unsigned char kDivergingPoints[11][3] = {
    {0x05, 0x30, 0x61}, {0x21, 0x66, 0xac}, {0x43, 0x93, 0xc3}, {0x92, 0xc5, 0xde},
    {0xd1, 0xe5, 0xf0}, {0xf7, 0xf7, 0xf7}, {0xfd, 0xdb, 0xc7}, {0xf4, 0xa5, 0x82},
    {0xd6, 0x60, 0x4d}, {0xb2, 0x18, 0x2b}, {0x67, 0x00, 0x1f}};

template <size_t N>
QRgb InterpolatedIn(const unsigned char (&points)[N][3], double t) {
  if (!(t > 0)) t = 0;  // also not-a-number
  if (t > 1) t = 1;
  const double position = t * (N - 1);
  const int k = std::min(static_cast<int>(N) - 2, static_cast<int>(position));
  const double f = position - k;
  int rgb[3];
  for (int c = 0; c < 3; ++c) {
    const double v = points[k][c] + f * (points[k + 1][c] - points[k][c]);
    rgb[c] = static_cast<int>(std::lround(v));
  }
  return qRgb(rgb[0], rgb[1], rgb[2]);
}

QRgb Interpolated(double t) {
  return InterpolatedIn(kControlPoints, t);
}

}  // namespace

const std::array<QRgb, 256>& ViridisTable() {
  static const std::array<QRgb, 256> table = [] {
    std::array<QRgb, 256> t{};
    for (int k = 0; k < 256; ++k) t[k] = Interpolated(k / 255.0);
    return t;
  }();
  return table;
}

QRgb ViridisColour(double t) {
  return Interpolated(t);
}

const std::array<QRgb, 256>& DivergingTable() {
  static const std::array<QRgb, 256> table = [] {
    std::array<QRgb, 256> t{};
    for (int k = 0; k < 256; ++k) t[k] = InterpolatedIn(kDivergingPoints, k / 255.0);
    return t;
  }();
  return table;
}

}  // namespace zuba
