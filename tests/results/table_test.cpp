#include "results/table.h"

#include <gtest/gtest.h>

#include "results/result_tables.h"

namespace zuba {
namespace {

TEST(Table, GrowsWithZerosAndChecksEveryIndex) {
  RealTable t;
  t.resize(3);
  t.set(1, 2.5);
  EXPECT_EQ(t.toVector(), (std::vector<double>{0, 2.5, 0}));
  EXPECT_THROW(t.at(3), std::invalid_argument);
  EXPECT_THROW(t.at(-1), std::invalid_argument);
  EXPECT_THROW(t.set(3, 1), std::invalid_argument);
  EXPECT_THROW(t.resize(-1), std::invalid_argument);
  t.resize(0);
  EXPECT_TRUE(t.empty());
}

TEST(Table, CopiesShareStorageUntilOneIsChanged) {
  RealTable a(std::vector<double>{1, 2, 3});
  RealTable b = a;
  EXPECT_TRUE(a.sharesStorageWith(b));
  b.set(0, 9);
  EXPECT_FALSE(a.sharesStorageWith(b));
  EXPECT_EQ(a.at(0), 1);
  EXPECT_EQ(b.at(0), 9);
}

TEST(ResultTables, ResetEmptiesTablesTextsAndNumbers) {
  ResultTables r;
  r.Ek.resize(2);
  r.OrbitPoints.resize(2);
  r.run.Path = "x";
  r.run.N = 4;
  r.reset();
  EXPECT_EQ(r, ResultTables{});
}

}  // namespace
}  // namespace zuba
