// The table of run fields: text conversion, JSON keys, the names --set takes.
#include "results/run_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/run_description_json.h"

namespace zuba {
namespace {

// Every field away from its default and from the presets' values.
RunParameters Distinct() {
  return RunParameters{
      "/maps/a b.sdf",   " 14N5 ", 0.1, 1e300, 1e-4, 26.26, 2, 3, 1, -5, 14.000330460238006, 0.25,
      6.283185307179586, 3e-4};
}

TEST(RunFields, EveryFieldRoundTripsThroughItsTextAndItsJsonKey) {
  const RunParameters source = Distinct();
  const nlohmann::ordered_json json = cli::RunDescriptionJson(source);
  RunParameters fromText, fromJson;
  std::vector<std::string> keys;
  for (const RunField& field : kRunFields) {
    EXPECT_EQ(SetRunField(field, RunFieldText(field, source), fromText), "") << field.name;
    VisitRunField(field, fromJson,
                  [&]<class T>(T& value) { value = json.at(field.name).get<T>(); });
    keys.push_back(field.name);
  }
  EXPECT_EQ(fromText, source);
  EXPECT_EQ(fromJson, source);
  // The JSON holds the fields in the order of the record, and nothing else.
  std::vector<std::string> jsonKeys;
  for (const auto& item : json.items()) jsonKeys.push_back(item.key());
  EXPECT_EQ(jsonKeys, keys);
  EXPECT_EQ(keys,
            (std::vector<std::string>{"Path", "ParticleName", "EkBegin", "EkEnd", "dEk", "Frf", "H",
                                      "N", "ChargeSign", "Q", "m0", "T0", "TIs", "h"}));
  EXPECT_EQ(SettableRunFieldNames(), "ParticleName EkBegin EkEnd dEk Frf H N ChargeSign Q m0 h");
}

TEST(RunFields, TextConversionReadsAsSetDoesAndRefusesWithItsReason) {
  const std::string notWhole = " is not a whole number of the range -2147483647 .. 2147483647";
  const std::string notReal = " is not a finite real number";
  struct Case {
    const char* name;
    const char* text;
    std::string refusal;  // empty: accepted
    RunParameters expected;
  };
  auto with = [](auto member, auto value) {
    RunParameters p = Distinct();
    p.*member = value;
    return p;
  };
  const Case cases[] = {
      {"EkEnd", " +3 ", "", with(&RunParameters::EkEnd, 3.0)},
      {"h", "\t1e-3\n", "", with(&RunParameters::h, 1e-3)},
      {"N", "+4", "", with(&RunParameters::N, 4)},
      {"Q", "-2147483647", "", with(&RunParameters::Q, -2147483647)},
      {"Q", " 2147483647 ", "", with(&RunParameters::Q, 2147483647)},
      {"ParticleName", "  x y ", "", with(&RunParameters::ParticleName, std::string("  x y "))},
      {"N", "4.5", "\"4.5\"" + notWhole, Distinct()},
      {"Q", "-2147483648", "\"-2147483648\"" + notWhole, Distinct()},
      {"Q", "2147483648", "\"2147483648\"" + notWhole, Distinct()},
      {"H", "  ", "\"  \"" + notWhole, Distinct()},
      {"ChargeSign", "++1", "\"++1\"" + notWhole, Distinct()},
      {"h", "0.001x", "\"0.001x\"" + notReal, Distinct()},
      {"m0", "inf", "\"inf\"" + notReal, Distinct()},
      {"m0", "nan", "\"nan\"" + notReal, Distinct()},
      {"EkEnd", "1e400", "\"1e400\"" + notReal, Distinct()},
      {"dEk", "", "\"\"" + notReal, Distinct()},
  };
  for (const Case& c : cases) {
    const RunField* field = FindRunField(c.name);
    ASSERT_NE(field, nullptr) << c.name;
    RunParameters run = Distinct();
    EXPECT_EQ(SetRunField(*field, c.text, run), c.refusal) << c.name << " " << c.text;
    EXPECT_EQ(run, c.expected) << c.name << " " << c.text;
  }
  EXPECT_EQ(FindRunField("tis"), nullptr);
  EXPECT_EQ(FindRunField(" h"), nullptr);
}

}  // namespace
}  // namespace zuba
