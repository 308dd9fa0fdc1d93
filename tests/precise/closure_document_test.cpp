// The closure tables in the document file: one optional block after the last of the twelve
// tables, absent (and the file unchanged) for a run of the default closure; and the reasons of
// energies that did not close in a block after it, absent when every energy closed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "platform/files.h"
#include "results/document.h"

namespace zuba {
namespace {

ResultTables Standard() {
  ResultTables r;
  r.Ek = RealTable({9.6131352e-14, 1.92262704e-13});
  r.Rmn = RealTable({0.1, 0.2});
  r.Bmn = RealTable({1.5, 1.51});
  r.Rev = RealTable({0.1001, 0.2002});
  r.F0 = RealTable({26.26e6, 26.25e6});
  r.dReo = RealTable({1e-10, -0.0});
  r.OrbitR = RealTable({0.1, 0.11, 0.2});
  r.OrbitVr = RealTable({0.01, 0.02, 0.03});
  r.OrbitTheta = RealTable({0, 3.14, 0});
  r.OrbitOmega = RealTable({1, 1.01, 0.99});
  r.OrbitTau = RealTable({0, 6.28, 0});
  r.OrbitPoints = IntTable({2, 1});
  r.run = {"/maps/tvk.sdf", "p", 0.6, 1.2, 0.6, 26.26, 1, 4, 0, 1, 1.007276466812, 0, 6.28, 1e-4};
  return r;
}

ResultTables Precise() {
  ResultTables r = Standard();
  r.closure.mode = 1;
  r.closure.gainPerTurn = 0.1;
  r.closure.isochronism = RealTable({0, -3.8e-4});
  r.closure.phaseDeg = RealTable({0, 2.3});
  r.closure.nuR = RealTable({1.0003, 2147483647.0});
  r.closure.nuZ = RealTable({0.21, 0.19});
  r.closure.status = IntTable({0, 1 | 4});
  return r;
}

// The size of a document of the twelve tables alone, from the layout: 140 bytes of fixed fields,
// the texts with one-byte prefixes, 8 bytes per real element and 4 per OrbitPoints element.
size_t StandardSize(const ResultTables& r) {
  return 140 + 2 + r.run.Path.size() + r.run.ParticleName.size() + 8 * (6 * 2 + 5 * 3) + 4 * 2;
}

TEST(ClosureBlock, DefaultClosureDocumentHasNoBlock) {
  const ResultTables r = Standard();
  const std::string bytes = StoreDocumentBytes(r, 1);
  EXPECT_EQ(bytes.size(), StandardSize(r));
  const Result<DocumentLoad> load = LoadDocumentBytes(bytes);
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results, r);
  EXPECT_TRUE(load->results.closure.empty());
}

TEST(ClosureBlock, RoundTripKeepsTheClosureTables) {
  const ResultTables r = Precise();
  const std::string bytes = StoreDocumentBytes(r, 1);
  EXPECT_EQ(bytes.size(), StandardSize(r) + 8 + 4 + 4 + 16 + 36 * 2);
  const Result<DocumentLoad> load = LoadDocumentBytes(bytes);
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results, r);
  EXPECT_EQ(load->results.closure.status[1], 5);
  EXPECT_EQ(load->results.closure.nuR[1], 2147483647.0);
}

// A reader of the twelve tables stops where the block begins: everything before it is the
// document of the default closure, byte for byte.
TEST(ClosureBlock, TheBlockOnlyFollowsTheStandardBytes) {
  const std::string with = StoreDocumentBytes(Precise(), 1);
  const std::string without = StoreDocumentBytes(Standard(), 1);
  ASSERT_GT(with.size(), without.size());
  EXPECT_EQ(with.compare(0, without.size(), without), 0);
  EXPECT_EQ(with.compare(without.size(), 8, "ZUBACLSR"), 0);
}

TEST(ClosureBlock, SavedFileHasTheBytesOfTheRecord) {
  const auto dir = std::filesystem::temp_directory_path() / "zuba_closure_block_test";
  std::filesystem::create_directories(dir);
  for (const ResultTables& r : {Standard(), Precise()}) {
    const std::string path = (dir / "doc.zub").string();
    ASSERT_TRUE(SaveDocumentFile(path, r, 1).ok());
    const FileBytes file = ReadWholeFile(path);
    ASSERT_EQ(file.status, ReadStatus::Ok);
    EXPECT_EQ(file.bytes, StoreDocumentBytes(r, 1));
    const Result<DocumentLoad> load = LoadDocumentFile(path);
    ASSERT_TRUE(load.ok()) << load.message().text;
    EXPECT_EQ(load->results, r);
  }
  std::filesystem::remove_all(dir);
}

TEST(ClosureBlock, OtherTrailingBytesAreStillIgnored) {
  std::string bytes = StoreDocumentBytes(Standard(), 1);
  bytes += "some trailing bytes of another program";
  const Result<DocumentLoad> load = LoadDocumentBytes(bytes);
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results, Standard());
}

// The bytes with a number written over those at offset `at`.
template <class T>
std::string Patched(std::string bytes, size_t at, T value) {
  std::memcpy(bytes.data() + at, &value, sizeof value);
  return bytes;
}

// Cut anywhere inside the block that begins at blockStart, after its tag and counts: refused,
// naming the block.
void ExpectCutsRefused(const std::string& good, size_t blockStart, size_t step, const char* block) {
  for (size_t cut = blockStart + 16; cut < good.size(); cut += step) {
    const Result<DocumentLoad> load = LoadDocumentBytes(std::string_view(good).substr(0, cut));
    EXPECT_FALSE(load.ok()) << cut;
    EXPECT_NE(load.message().text.find(block), std::string::npos) << cut;
  }
}

TEST(ClosureBlock, DamagedBlockIsRefusedAndLaterVersionSkipped) {
  const std::string good = StoreDocumentBytes(Precise(), 1);
  const size_t blockStart = StoreDocumentBytes(Standard(), 1).size();
  ExpectCutsRefused(good, blockStart, 7, "closure block");
  // A count that does not fit the byte length.
  EXPECT_FALSE(LoadDocumentBytes(Patched(good, blockStart + 16 + 12, int32_t{3})).ok());
  // A byte length 8 above what its two energies take, with 8 bytes more in the block.
  std::string longer = Patched(good, blockStart + 12, uint32_t{16 + 36 * 2 + 8});
  longer.insert(blockStart + 16 + 16 + 36 * 2, 8, '\0');
  const Result<DocumentLoad> refused = LoadDocumentBytes(longer);
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(refused.message().text.find("closure block's length 96 does not fit its 2 energies"),
            std::string::npos)
      << refused.message().text;
  // A later version is skipped whole: the twelve tables load, without closure tables.
  const Result<DocumentLoad> load = LoadDocumentBytes(Patched(good, blockStart + 8, uint32_t{2}));
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results, Standard());
}

TEST(ClosureBlock, UnequalClosureTablesAreCutToTheShortest) {
  ResultTables r = Precise();
  r.closure.nuZ = RealTable({0.2});
  const Result<DocumentLoad> load = LoadDocumentBytes(StoreDocumentBytes(r, 1));
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results.closure.isochronism.size(), 1);
  EXPECT_EQ(load->results.closure.status.size(), 1);
  EXPECT_EQ(load->results.closure.phaseDeg[0], 0);
}

ResultTables WithReasons() {
  ResultTables r = Precise();
  r.closure.status = IntTable({0, 3});
  r.closure.reasons = {"", "the orbit needs the field beyond the map (R = 0.75 m)"};
  return r;
}

// A reader of the closure block alone reads what it always read and ignores what follows.
TEST(ReasonsBlock, FollowsTheClosureBlockOnlyWhenAnEnergyDidNotClose) {
  const ResultTables r = WithReasons();
  const std::string with = StoreDocumentBytes(r, 1);
  ResultTables noReasons = r;
  noReasons.closure.reasons.clear();
  const std::string without = StoreDocumentBytes(noReasons, 1);
  ASSERT_GT(with.size(), without.size());
  EXPECT_EQ(with.compare(0, without.size(), without), 0);
  EXPECT_EQ(with.compare(without.size(), 8, "ZUBACLRS"), 0);
  const Result<DocumentLoad> load = LoadDocumentBytes(with);
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results, r);
  ResultTables allClosed = Precise();
  allClosed.closure.reasons = {"", ""};
  EXPECT_EQ(StoreDocumentBytes(allClosed, 1), StoreDocumentBytes(Precise(), 1));
  // Read in any order: the reasons before the closure block are kept.
  const size_t closureStart = StoreDocumentBytes(Standard(), 1).size();
  std::string first = without;
  first.insert(closureStart, with.substr(without.size()));
  const Result<DocumentLoad> reordered = LoadDocumentBytes(first);
  ASSERT_TRUE(reordered.ok()) << reordered.message().text;
  EXPECT_EQ(reordered->results, r);
}

TEST(ReasonsBlock, DamagedBlockIsRefusedAndLaterVersionSkipped) {
  const std::string good = StoreDocumentBytes(WithReasons(), 1);
  ResultTables noReasons = WithReasons();
  noReasons.closure.reasons.clear();
  const size_t blockStart = StoreDocumentBytes(noReasons, 1).size();
  ExpectCutsRefused(good, blockStart, 5, "reasons block");
  // More texts declared than the block holds.
  EXPECT_FALSE(LoadDocumentBytes(Patched(good, blockStart + 16, int32_t{3})).ok());
  // A later version is skipped whole: the closure tables load, without reasons.
  const Result<DocumentLoad> load = LoadDocumentBytes(Patched(good, blockStart + 8, uint32_t{2}));
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results, noReasons);
}

// The tolerance of a precise run: a block of its own after every other block, so that a reader
// that does not know it (it stops at a tag it does not know) reads all the rest.
TEST(ToleranceBlock, FollowsEveryOtherBlockOnlyForAPreciseRunThatKnowsIt) {
  ResultTables r = Precise();
  r.mapFile = {1234, 5678, 0x9abcull};
  const std::string without = StoreDocumentBytes(r, 1);
  r.closure.tolerance = 1e-9;
  std::string block("ZUBACLTL", 8);
  for (uint32_t word : {1u, 8u}) block.append(reinterpret_cast<const char*>(&word), 4);
  const double tolerance = 1e-9;
  block.append(reinterpret_cast<const char*>(&tolerance), 8);
  const std::string with = StoreDocumentBytes(r, 1);
  EXPECT_EQ(with, without + block);
  const Result<DocumentLoad> load = LoadDocumentBytes(with);
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results, r);
  // What a reader that does not know the tag gets: every other block, the tolerance unknown.
  std::string unknownTag = with;
  unknownTag[with.size() - 17] = 'X';
  const Result<DocumentLoad> older = LoadDocumentBytes(unknownTag);
  ASSERT_TRUE(older.ok()) << older.message().text;
  ResultTables expected = r;
  expected.closure.tolerance = 0;
  EXPECT_EQ(older->results, expected);
  // Read in any order: the block before the closure block keeps its value.
  const size_t closureStart = StoreDocumentBytes(Standard(), 1).size();
  std::string first = with.substr(0, with.size() - block.size());
  first.insert(closureStart, block);
  const Result<DocumentLoad> reordered = LoadDocumentBytes(first);
  ASSERT_TRUE(reordered.ok()) << reordered.message().text;
  EXPECT_EQ(reordered->results.closure.tolerance, 1e-9);
  // No block for the default closure (its documents stay as they were), nor where it is unknown.
  ResultTables standard = Standard();
  standard.closure.gainPerTurn = 0.1;
  const std::string standardBytes = StoreDocumentBytes(standard, 1);
  standard.closure.tolerance = 1e-9;
  EXPECT_EQ(StoreDocumentBytes(standard, 1), standardBytes);
}

TEST(ToleranceBlock, DamagedBlockIsRefusedAndLaterVersionSkipped) {
  ResultTables r = Precise();
  r.closure.tolerance = 1e-9;
  const std::string good = StoreDocumentBytes(r, 1);
  const size_t blockStart = good.size() - 24;
  ExpectCutsRefused(good, blockStart, 3, "tolerance block");
  for (double bad : {0.0, -1e-9, std::nan(""), HUGE_VAL}) {
    const Result<DocumentLoad> load = LoadDocumentBytes(Patched(good, blockStart + 16, bad));
    ASSERT_FALSE(load.ok()) << bad;
    EXPECT_NE(load.message().text.find("the tolerance block holds"), std::string::npos)
        << load.message().text;
  }
  std::string longer = Patched(good, blockStart + 12, uint32_t{9});
  longer += '\0';
  EXPECT_FALSE(LoadDocumentBytes(longer).ok());
  const Result<DocumentLoad> later = LoadDocumentBytes(Patched(good, blockStart + 8, uint32_t{2}));
  ASSERT_TRUE(later.ok()) << later.message().text;
  EXPECT_EQ(later->results, Precise());
}

}  // namespace
}  // namespace zuba
