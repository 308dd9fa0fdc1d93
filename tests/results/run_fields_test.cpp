// The table of run fields (text conversion, JSON keys, the names --set takes) and the completion
// of the run parameters that the Input Data dialog and the command line share.
#include "results/run_fields.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "cli/run_description_json.h"
#include "results/run_completion.h"

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
  for (const RunField& field : kRunFields) {
    EXPECT_TRUE(SetRunField(field, RunFieldText(field, source), fromText).ok()) << field.name;
    VisitRunField(field, fromJson,
                  [&]<class T>(T& value) { value = json.at(field.name).get<T>(); });
  }
  EXPECT_EQ(fromText, source);
  EXPECT_EQ(fromJson, source);
  EXPECT_EQ(json.size(), kRunFieldCount);
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
      {"EkEnd", "1e400", "\"1e400\"" + notReal, Distinct()},
  };
  for (const Case& c : cases) {
    const RunField* field = FindRunField(c.name);
    ASSERT_NE(field, nullptr) << c.name;
    RunParameters run = Distinct();
    const Outcome set = SetRunField(*field, c.text, run);
    EXPECT_EQ(set.message().text, c.refusal) << c.name << " " << c.text;
    EXPECT_EQ(set.failure().subject, c.refusal.empty() ? "" : c.name) << c.name;
    EXPECT_EQ(run, c.expected) << c.name << " " << c.text;
  }
  EXPECT_EQ(FindRunField("tis"), nullptr);
  EXPECT_EQ(FindRunField(" h"), nullptr);
}

TEST(CompleteRunParameters, TrimsRefusesPathThenNameAndTakesTheMagnitudeOfQ) {
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  struct Case {
    const char* path;
    const char* name;
    int32_t q;
    const char* refused;  // the field named by the refusal, empty when accepted
    const char* text;
    const char* expectedPath;
    const char* expectedName;
    int32_t expectedQ;
  };
  const char* noPath = "Enter the file path of the magnetic field map!";
  const char* noName = "Enter the name of particle!";
  const Case cases[] = {
      {"  /maps/field map.sdf \t", "\v p \f", -5, "", "", "/maps/field map.sdf", "p", 5},
      {"/m.sdf", "p", 7, "", "", "/m.sdf", "p", 7},
      {"/m.sdf", "p", kMin, "", "", "/m.sdf", "p", kMax},
      {" \t\r\n", "p", -5, "Path", noPath, "", "p", -5},
      {" ", "  ", -5, "Path", noPath, "", "", -5},
      {" /m.sdf", " \t ", -5, "ParticleName", noName, "/m.sdf", "", -5},
  };
  for (const Case& c : cases) {
    RunParameters run;
    run.Path = c.path;
    run.ParticleName = c.name;
    run.Q = c.q;
    const Outcome completion = CompleteRunParameters(run);
    EXPECT_EQ(completion.ok(), std::string(c.refused).empty()) << c.path;
    if (!completion) {
      EXPECT_EQ(completion.failure().subject, c.refused) << c.path;
      EXPECT_EQ(completion.message().text, c.text) << c.path;
      EXPECT_EQ(completion.message().caption, "Stop") << c.path;
    }
    EXPECT_EQ(run.Path, c.expectedPath) << c.path;
    EXPECT_EQ(run.ParticleName, c.expectedName) << c.path;
    EXPECT_EQ(run.Q, c.expectedQ) << c.path;
  }
}

}  // namespace
}  // namespace zuba
