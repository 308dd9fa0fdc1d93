// The fourteen fields of the run description as one table: for each its name, member, unit, the
// label of the Input Data dialog, who may change it and its line in the text report. The order of
// the table is the order of the record, of the document file, of the JSON run description and of
// the dialog's data exchange; it is part of the document format.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/outcome.h"
#include "results/run_parameters.h"

namespace zuba {

enum class RunFieldType { Text, Real, Integer };

// The member of the record a field is; its type follows from the member.
struct RunFieldMember {
  constexpr RunFieldMember(std::string RunParameters::*member)
      : type(RunFieldType::Text), text(member) {}
  constexpr RunFieldMember(double RunParameters::*member)
      : type(RunFieldType::Real), real(member) {}
  constexpr RunFieldMember(int32_t RunParameters::*member)
      : type(RunFieldType::Integer), integer(member) {}

  RunFieldType type;
  std::string RunParameters::*text = nullptr;  // set for Text
  double RunParameters::*real = nullptr;       // set for Real
  int32_t RunParameters::*integer = nullptr;   // set for Integer
};

// Who may change a field: the Input Data dialog and --set; the dialog alone (the command line
// names the field map by --map); nobody (the preset's value, shown read-only in the dialog).
enum class RunFieldEntry { DialogAndSet, DialogOnly, PresetOnly };

// The field's line in the header of the text report: label, value, suffix.
struct RunFieldReportLine {
  const char* label = nullptr;  // null: the report has no line for the field
  const char* suffix = "";
  int32_t decimals = 0;  // fraction digits of a real
};

struct RunField {
  // The member's name: the JSON key, the name --set takes and the name in the document's
  // messages.
  const char* name;
  RunFieldMember member;
  const char* unit;         // empty for texts and counts
  const char* dialogLabel;  // the Input Data dialog's label (the group title of the path)
  RunFieldEntry entry;
  RunFieldReportLine report;

  RunFieldType type() const { return member.type; }
  bool settable() const { return entry == RunFieldEntry::DialogAndSet; }
  bool editable() const { return entry != RunFieldEntry::PresetOnly; }
};

inline constexpr std::size_t kRunFieldCount = 14;
extern const std::array<RunField, kRunFieldCount> kRunFields;

// Calls visit with the field's member of run, a std::string, double or int32_t (const when run
// is), and returns what it returns.
template <class Run, class Visit>
requires std::is_same_v<std::remove_const_t<Run>, RunParameters>
decltype(auto) VisitRunField(const RunField& field, Run& run, Visit&& visit) {
  if (field.type() == RunFieldType::Text) return visit(run.*field.member.text);
  if (field.type() == RunFieldType::Real) return visit(run.*field.member.real);
  return visit(run.*field.member.integer);
}

// The field of that name, compared exactly; null when there is none.
const RunField* FindRunField(std::string_view name);

// The names --set takes, in the order of the table, separated by one space.
std::string SettableRunFieldNames();

// Converts text into the field of run, as --set reads a value: a text is taken as it is; a number
// is read after trimming white space and one leading '+', and must be the whole text: an integer
// of the range -2147483647 .. 2147483647, a real finite. A refusal (subject the field's name) says
// why, quoting text as given ("\"4.5\" is not a whole number of the range -2147483647 ..
// 2147483647", "\"x\" is not a finite real number"); run is then unchanged.
Outcome SetRunField(const RunField& field, std::string_view text, RunParameters& run);

// The field's value as text that SetRunField reads back to the same value: a text as it is, an
// integer in decimal, a real in the fewest digits that read back exactly.
std::string RunFieldText(const RunField& field, const RunParameters& run);

}  // namespace zuba
