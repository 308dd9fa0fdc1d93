// The reading options in the document file: an optional block after the closure block (or in its
// place), absent for a map read as a plain .sdf, so that such a document is unchanged.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "results/document.h"

namespace zuba {
namespace {

ResultTables Results(bool closure, const MapReadingOptions& reading) {
  ResultTables r;
  r.Ek = RealTable({1e-13, 2e-13});
  r.Rmn = RealTable({0.1, 0.2});
  r.run.Path = "sector.txt";
  r.run.ParticleName = "p";
  if (closure) {
    r.closure.mode = 1;
    r.closure.isochronism = RealTable({0, 1e-4});
    r.closure.phaseDeg = RealTable({0, 1});
    r.closure.nuR = RealTable({1.01, 1.02});
    r.closure.nuZ = RealTable({0.2, 0.3});
    r.closure.status = IntTable({0, 0});
  }
  r.mapReading = reading;
  return r;
}

MapReadingOptions SectorOf8() {
  MapReadingOptions o;
  o.format = MapFormat::Records;
  o.replicate = 8;
  o.mirror = true;
  o.reverse = true;
  o.bUnit = FieldUnit::Kilogauss;
  return o;
}

TEST(MapReadingBlock, RoundTripsWithAndWithoutTheClosureBlock) {
  for (const bool closure : {false, true}) {
    const ResultTables results = Results(closure, SectorOf8());
    const std::string bytes = StoreDocumentBytes(results, 1);
    // The block is the last 40 bytes: tag, version, length, six numbers.
    ASSERT_EQ(bytes.substr(bytes.size() - 40, 8), "ZUBAMAPR");
    Result<DocumentLoad> load = LoadDocumentBytes(bytes);
    ASSERT_TRUE(load.ok()) << load.message().text;
    EXPECT_EQ(load->results, results);
  }
}

TEST(MapReadingBlock, IsAbsentForAPlainSdfMap) {
  MapReadingOptions sdf;
  sdf.format = MapFormat::Sdf;
  for (const MapReadingOptions& o : {MapReadingOptions{}, sdf}) {
    EXPECT_EQ(StoreDocumentBytes(Results(true, o), 1),
              StoreDocumentBytes(Results(true, MapReadingOptions{}), 1));
    EXPECT_EQ(StoreDocumentBytes(Results(false, o), 1).find("ZUBAMAPR"), std::string::npos);
  }
}

TEST(MapReadingBlock, DamagedIsRefusedAndOfALaterVersionSkipped) {
  const std::string bytes = StoreDocumentBytes(Results(false, SectorOf8()), 1);
  const size_t block = bytes.size() - 40;
  std::string unknownUnit = bytes;
  unknownUnit[bytes.size() - 4] = 9;  // the field unit
  EXPECT_EQ(LoadDocumentBytes(unknownUnit).message().text,
            "Damaged document: the map-reading block holds an unknown format, flag or unit.");
  EXPECT_EQ(LoadDocumentBytes(bytes.substr(0, bytes.size() - 1)).message().text,
            "Damaged document: the map-reading block declares 24 bytes but only 23 follow.");
  std::string later = bytes;
  later[block + 8] = 2;  // version 2: not ours to read
  Result<DocumentLoad> load = LoadDocumentBytes(later);
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results.mapReading, MapReadingOptions{});
}

}  // namespace
}  // namespace zuba
