// Names and the description of the map-reading options.
#include "results/map_reading.h"

#include <array>
#include <iterator>
#include <utility>

namespace zuba {
namespace {

template <class E, size_t N>
std::optional<E> Find(const std::array<std::pair<E, const char*>, N>& names,
                      std::string_view name) {
  for (const auto& [value, text] : names)
    if (name == text) return value;
  return std::nullopt;
}

template <class E, size_t N>
const char* NameOf(const std::array<std::pair<E, const char*>, N>& names, E value) {
  for (const auto& [v, text] : names)
    if (v == value) return text;
  return "?";
}

constexpr std::array<std::pair<MapFormat, const char*>, 6> kFormats{
    {{MapFormat::Auto, "auto"},
     {MapFormat::Sdf, "sdf"},
     {MapFormat::Polar, "polar"},
     {MapFormat::Records, "records"},
     {MapFormat::Table, "table"},
     {MapFormat::PolarMesh, "polar-mesh"}}};
constexpr std::array<std::pair<RadiusUnit, const char*>, 2> kRadiusUnits{
    {{RadiusUnit::Metre, "m"}, {RadiusUnit::Millimetre, "mm"}}};
constexpr std::array<std::pair<AngleUnit, const char*>, 2> kAngleUnits{
    {{AngleUnit::Degree, "deg"}, {AngleUnit::Radian, "rad"}}};
constexpr std::array<std::pair<FieldUnit, const char*>, 3> kFieldUnits{
    {{FieldUnit::Tesla, "T"}, {FieldUnit::Gauss, "Gs"}, {FieldUnit::Kilogauss, "kG"}}};

}  // namespace

const char* MapFormatName(MapFormat format) {
  return NameOf(kFormats, format);
}
const char* RadiusUnitName(RadiusUnit unit) {
  return unit == RadiusUnit::None ? "" : NameOf(kRadiusUnits, unit);
}
const char* AngleUnitName(AngleUnit unit) {
  return unit == AngleUnit::None ? "" : NameOf(kAngleUnits, unit);
}
const char* FieldUnitName(FieldUnit unit) {
  return unit == FieldUnit::None ? "" : NameOf(kFieldUnits, unit);
}
std::optional<MapFormat> ParseMapFormat(std::string_view name) {
  return Find(kFormats, name);
}
std::optional<RadiusUnit> ParseRadiusUnit(std::string_view name) {
  return Find(kRadiusUnits, name);
}
std::optional<AngleUnit> ParseAngleUnit(std::string_view name) {
  return Find(kAngleUnits, name);
}
std::optional<FieldUnit> ParseFieldUnit(std::string_view name) {
  return Find(kFieldUnits, name);
}

std::string DescribeMapReading(const MapReadingOptions& o) {
  static const char* const kKinds[] = {"map",        ".sdf map", "polar map", "record map",
                                       "table", "polar-mesh map"};
  const auto kind = static_cast<size_t>(o.format);
  std::string text = kind < std::size(kKinds) ? kKinds[kind] : "map";
  if (o.AsGiven()) return text + " as given";
  if (o.mirror) text += ", half sector mirrored";
  if (o.replicate > 0) text += ", one sector of " + std::to_string(o.replicate) + " replicated";
  if (o.reverse) text += ", azimuth reversed";
  if (o.negate) text += ", sign flipped";
  if (o.rUnit != RadiusUnit::None || o.thetaUnit != AngleUnit::None || o.bUnit != FieldUnit::None) {
    text += ", columns in";
    if (o.rUnit != RadiusUnit::None) text += std::string(" ") + RadiusUnitName(o.rUnit);
    if (o.thetaUnit != AngleUnit::None) text += std::string(" ") + AngleUnitName(o.thetaUnit);
    if (o.bUnit != FieldUnit::None) text += std::string(" ") + FieldUnitName(o.bUnit);
  }
  return text;
}

}  // namespace zuba
