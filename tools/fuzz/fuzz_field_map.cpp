// Fuzz target of the field map reader and of the token cutter it uses: any bytes give either a
// map whose tables agree with its node counts, or exactly one message. A map that is read is then
// taken through the first steps of a run: the radial spline moments and the field at a point.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "calc/maps/field_map.h"
#include "numerics/field_interpolation.h"
#include "results/text.h"
#include "tools/fuzz/silent_messages.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool IsSeparator(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\r';
}

// Every token is a run of non-separators that stands in the text where the cursor says; the
// cursor only moves forward and stops at the end.
void CheckTokens(std::string_view text) {
  std::size_t cursor = 0;
  for (;;) {
    const std::size_t before = cursor;
    const std::string_view token = zuba::ReadToken(text, cursor);
    Check(cursor <= text.size());
    if (token.empty()) {
      Check(cursor == text.size());
      for (std::size_t i = before; i < text.size(); ++i) Check(IsSeparator(text[i]));
      return;
    }
    Check(cursor > before);
    Check(token.data() + token.size() == text.data() + cursor);
    for (char c : token) Check(!IsSeparator(c));
    Check(cursor == text.size() || IsSeparator(text[cursor]));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zuba;
  static SilentMessages* messages = new SilentMessages;  // installed for the whole run

  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckTokens(bytes);

  (void)messages;
  Result<FieldMap> map = ParseFieldMap(bytes);
  // A refusal says what is wrong in one line.
  Check(map.ok() ||
        (!map.message().text.empty() && map.message().text.find('\n') == std::string::npos));
  if (!map) return 0;

  const std::size_t count =
      static_cast<std::size_t>(map->nR) * static_cast<std::size_t>(map->nTheta);
  Check(map->nR >= 1 && map->nTheta >= 1);
  Check(map->radii.size() == static_cast<std::size_t>(map->nR));
  Check(map->azimuths.size() == static_cast<std::size_t>(map->nTheta));
  Check(map->field.size() == count && map->moments.size() == count);
  Check(map->unit == "Gs" || map->unit == "T");
  // Each value takes at least two bytes (a separator and a character) of the file.
  Check(2 * count <= size);
  for (double m : map->moments) Check(m == 0);

  // The run's first steps on the map: the reader's checks must leave nothing that makes them
  // misbehave (they may refuse, with a message).
  std::vector<double> h, moments;
  if (RadialMoments(map->field, map->radii, map->nTheta, h, moments).ok()) {
    double radius = map->radii[map->radii.size() / 2];
    double theta = map->azimuths[map->azimuths.size() / 2];
    if (size >= 16) {  // a point of the input's choosing, within reason
      double r = 0, t = 0;
      std::memcpy(&r, data, sizeof r);
      std::memcpy(&t, data + 8, sizeof t);
      if (std::isfinite(r) && std::fabs(r) < 1e6) radius = r;
      if (std::isfinite(t) && std::fabs(t) < 1e3) theta = t;
    }
    double field = 0;
    const Outcome evaluated =
        InterpolateField(radius, theta, h, map->radii, map->azimuths, map->field, moments, field);
    Check(evaluated.ok() || !evaluated.message().text.empty());
  }
  return 0;
}
