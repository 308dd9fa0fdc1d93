// The coil table with its currents: the text that Save Currents... writes, read back as the same
// coils with those currents, and the refusals of a damaged `current_A` row.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calc/maps/coil_table.h"

namespace zuba {
namespace {

void ExpectSameCoils(const TrimCoils& a, const TrimCoils& b) {
  EXPECT_EQ(a.Names(), b.Names());
  EXPECT_EQ(a.Radii(), b.Radii());
  for (int c = 0; c < a.Count(); ++c) EXPECT_EQ(a.Profile(c), b.Profile(c)) << a.Name(c);
}

TEST(CoilCurrentsText, ReadsBackAsTheSameCoilsWithTheCurrents) {
  const struct {
    const char* source;
    std::vector<double> currents;
  } cases[] = {
      // Tabs, a coil in Gs/A, a comment and blank lines.
      {"# inner and outer\nr_m\tin\tout_Gs_per_A\n0.1\t1e-4\t0\n\n0.2\t2e-4\t0.5\n"
       "0.3\t1e-4\t1.25\n0.4\t0\t2\n",
       {12.5, -3.0000000000000004}},
      // Commas with blanks around the fields, one coil; its currents file read again.
      {"r_m , A\n0.10, 3e-5\n0.15 ,4e-5\n0.20,2e-5\n0.25,1e-5\n", {0.1}},
      {"r_m\tA\n0.1\t1\n0.2\t2\n0.3\t1\n0.4\t3\ncurrent_A\t7\n", {-250}},
  };
  for (const auto& c : cases) {
    const Result<TrimCoils> coils = TrimCoils::Parse(c.source, "coils.tsv");
    ASSERT_TRUE(coils) << coils.message().text;
    const std::string text = CoilCurrentsText(*coils, c.currents);
    const Result<TrimCoils> again = TrimCoils::Parse(text, "currents.tsv");
    ASSERT_TRUE(again) << again.message().text << "\n" << text;
    ExpectSameCoils(*coils, *again);
    EXPECT_EQ(again->Currents(), c.currents) << text;
    // One currents row, the last line.
    const std::size_t lastLine = text.rfind('\n', text.size() - 2) + 1;
    EXPECT_EQ(text.find("current_A"), lastLine) << text;
  }
}

TEST(CoilCurrentsText, KeepsTheColumnNamesAndFieldsAsTheFileWritesThem) {
  const Result<TrimCoils> coils = TrimCoils::Parse(
      "r_m,in,out_Gs_per_A\n0.10,1.0e-4,0\n0.2,2e-4,0.50\n0.3,1e-4,1\n"
      "0.4,0,2\n",
      "c.csv");
  ASSERT_TRUE(coils) << coils.message().text;
  EXPECT_EQ(CoilCurrentsText(*coils, std::vector<double>{1.5, -2}),
            "r_m\tin\tout_Gs_per_A\n0.10\t1.0e-4\t0\n0.2\t2e-4\t0.50\n0.3\t1e-4\t1\n0.4\t0\t2\n"
            "current_A\t1.5\t-2\n");
}

TEST(CoilCurrentsText, TheCurrentsRowIsRefusedWhenDamagedOrNotLast) {
  const std::string table = "r_m\tA\tB\n0.1\t1\t0\n0.2\t2\t1\n0.3\t1\t3\n";
  const struct {
    std::string text;
    const char* part;
  } cases[] = {
      {table + "current_A\t1\n0.4\t1\t1\n", "line 5: expected 3 values, found 2"},
      {table + "current_A\t1\t2\n0.4\t1\t1\n", "line 6: the row `current_A` must be the last"},
      {table + "0.4\t1\t1\ncurrent_A\t1\tmany\n", "line 6: the current of coil B \"many\""},
      {"r_m\tA\tB\ncurrent_A\t1\t2\n0.1\t1\t0\n", "line 3: the row `current_A` must be the last"},
  };
  for (const auto& c : cases) {
    const Result<TrimCoils> coils = TrimCoils::Parse(c.text, "coils.tsv");
    ASSERT_FALSE(coils) << c.part;
    EXPECT_NE(coils.message().text.find(c.part), std::string::npos) << coils.message().text;
  }
}

}  // namespace
}  // namespace zuba
