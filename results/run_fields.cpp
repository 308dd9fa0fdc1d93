// The table of the run fields and the conversion of a field's value to and from text.
#include "results/run_fields.h"

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "platform/numbers.h"
#include "results/text.h"

namespace zuba {

using enum RunFieldEntry;
using R = RunParameters;

// clang-format off
constexpr std::array<RunField, kRunFieldCount> kRunFields{{
  // name          member             unit        Input Data dialog label
  //               entry              report line: label, suffix, decimals
  {"Path",         &R::Path,          "",         "Path of Field Map",
                   DialogOnly,        {"\vPath: ", "", 0}},
  {"ParticleName", &R::ParticleName,  "",         "Particle Name:",
                   DialogAndSet,      {"Paticale name: ", "", 0}},
  {"EkBegin",      &R::EkBegin,       "MeV",      "Ek begin (MeV):",
                   DialogAndSet,      {"EkBegin = ", " (MeV)", 6}},
  {"EkEnd",        &R::EkEnd,         "MeV",      "Ek end (MeV):",
                   DialogAndSet,      {"EkEnd = ", " (MeV)", 6}},
  {"dEk",          &R::dEk,           "MeV/step", "dEk (MeV/step):",
                   DialogAndSet,      {"dEk = ", " (MeV/step)", 6}},
  {"Frf",          &R::Frf,           "MHz",      "Frf (MHz):",
                   DialogAndSet,      {"Frf = ", " (MHz)", 6}},
  {"H",            &R::H,             "",         "H=Frf/F0:",
                   DialogAndSet,      {"H = ", "", 0}},
  {"N",            &R::N,             "",         "Number of Sectors N:",
                   DialogAndSet,      {"N = ", "", 0}},
  {"ChargeSign",   &R::ChargeSign,    "",         "",
                   DialogAndSet,      {}},
  {"Q",            &R::Q,             "",         "Elementary Charge's Number |Q| (unit):",
                   DialogAndSet,      {"Elementary charge's number |Q| = ", "", 0}},
  {"m0",           &R::m0,            "samu",     "Mass of Particle m0 (samu):",
                   DialogAndSet,      {"Mass of particle m0 = ", " samu", 15}},
  {"T0",           &R::T0,            "rad",      "T0 (rad):",
                   PresetOnly,        {"T0 = ", " (rad)", 6}},
  {"TIs",          &R::TIs,           "rad",      "Tis (rad):",
                   PresetOnly,        {"TIs = ", " (rad)", 6}},
  {"h",            &R::h,             "rad/step", "h (rad/step):",
                   DialogAndSet,      {"h = ", " (rad/step)", 6}},
}};
// clang-format on

namespace {

// The reason a value was refused: the value as given, quoted, then what it is not.
std::string Refusal(std::string_view text, std::string_view notWhat) {
  std::string refusal;
  refusal.reserve(text.size() + notWhat.size() + 2);
  refusal += '"';
  refusal += text;
  refusal += '"';
  refusal += notWhat;
  return refusal;
}

}  // namespace

const RunField* FindRunField(std::string_view name) {
  for (const RunField& field : kRunFields)
    if (name == field.name) return &field;
  return nullptr;
}

std::string SettableRunFieldNames() {
  std::string names;
  for (const RunField& field : kRunFields) {
    if (!field.settable()) continue;
    if (!names.empty()) names += ' ';
    names += field.name;
  }
  return names;
}

Outcome SetRunField(const RunField& field, std::string_view text, RunParameters& run) {
  const std::string refusal = VisitRunField(field, run, [text]<class T>(T& member) -> std::string {
    if constexpr (std::is_same_v<T, std::string>) {
      member = std::string(text);
    } else if constexpr (std::is_same_v<T, double>) {
      const std::optional<double> value = ParseNumber(TrimSpace(text));
      if (!value) return Refusal(text, " is not a finite real number");
      member = *value;
    } else {
      // Read wider, so that the range is checked here; it is symmetric about zero, so that the
      // magnitude of every value fits (the charge is taken as |Q|).
      const std::optional<int64_t> value = ParseWholeNumber(TrimSpace(text));
      if (!value || *value < std::numeric_limits<int32_t>::min() + 1 ||
          *value > std::numeric_limits<int32_t>::max())
        return Refusal(text, " is not a whole number of the range -2147483647 .. 2147483647");
      member = static_cast<int32_t>(*value);
    }
    return {};
  });
  if (refusal.empty()) return {};
  return ErrorFailure(refusal, field.name);
}

std::string RunFieldText(const RunField& field, const RunParameters& run) {
  return VisitRunField(field, run, []<class T>(const T& value) -> std::string {
    if constexpr (std::is_same_v<T, std::string>) {
      return value;
    } else {
      if constexpr (std::is_same_v<T, double>) return FormatNumber(value);
      return std::to_string(value);
    }
  });
}

}  // namespace zuba
