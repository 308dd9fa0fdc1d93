// The map-file block of the document: written only for a record that knows its map file, read back
// before or after the closure block, refused when damaged, skipped when of a later version.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/file_stamp.h"
#include "results/document.h"

namespace zuba {
namespace {

ResultTables Record(bool closure, bool stamped) {
  ResultTables r;
  r.Ek = RealTable({1e-13, 2e-13});
  r.Rmn = RealTable({0.1, 0.2});
  r.F0 = RealTable({26.26e6, 26.27e6});
  r.run.Path = "maps/a.sdf";
  if (closure) {
    r.closure.mode = 1;
    r.closure.gainPerTurn = 0.1;
    r.closure.isochronism = RealTable({1e-6, 2e-6});
    r.closure.phaseDeg = RealTable({0, 0.5});
    r.closure.nuR = RealTable({1.01, 1.02});
    r.closure.nuZ = RealTable({0.1, 0.2});
    r.closure.status = IntTable({0, 0});
  }
  if (stamped) r.mapFile = FileStamp{102281, 1733587560123456789, 0x0123456789abcdefull};
  return r;
}

TEST(MapFileBlock, RoundTripWithAndWithoutTheClosureBlock) {
  for (bool closure : {false, true}) {
    SCOPED_TRACE(closure ? "after the closure block" : "alone");
    const ResultTables r = Record(closure, true);
    const std::string bytes = StoreDocumentBytes(r, 1);
    const std::string unstamped = StoreDocumentBytes(Record(closure, false), 1);
    // The block follows everything a reader of earlier documents reads.
    ASSERT_EQ(bytes.size(), unstamped.size() + 8 + 4 + 4 + 24);
    EXPECT_EQ(bytes.compare(0, unstamped.size(), unstamped), 0);
    EXPECT_EQ(bytes.compare(unstamped.size(), 8, "ZUBAMAPF"), 0);
    const Result<DocumentLoad> load = LoadDocumentBytes(bytes);
    ASSERT_TRUE(load.ok()) << load.message().text;
    EXPECT_EQ(load->results, r);
  }
}

TEST(MapFileBlock, ReadInEitherOrderDamagedRefusedLaterVersionSkipped) {
  const std::string plain = StoreDocumentBytes(Record(false, false), 1);
  const std::string closure = StoreDocumentBytes(Record(true, false), 1).substr(plain.size());
  const std::string stamp = StoreDocumentBytes(Record(false, true), 1).substr(plain.size());

  // The map-file block before the closure block.
  Result<DocumentLoad> load = LoadDocumentBytes(plain + stamp + closure);
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results, Record(true, true));

  // Cut inside the block after its tag and counts: refused, naming the block.
  for (size_t cut = 16; cut < stamp.size(); cut += 5) {
    load = LoadDocumentBytes(plain + stamp.substr(0, cut));
    EXPECT_FALSE(load.ok()) << cut;
    EXPECT_NE(load.message().text.find("map file block"), std::string::npos) << cut;
  }
  // A wrong length of version 1.
  std::string wrong = stamp;
  const uint32_t sixteen = 16;
  std::memcpy(wrong.data() + 12, &sixteen, 4);
  EXPECT_FALSE(LoadDocumentBytes(plain + wrong + std::string(8, '\0')).ok());
  // A later version is skipped whole and what follows it is still read.
  std::string later = stamp;
  const uint32_t two = 2;
  std::memcpy(later.data() + 8, &two, 4);
  load = LoadDocumentBytes(plain + later + closure);
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results, Record(true, false));
}

TEST(FileStamp, SameContentsDependOnSizeAndBytesNotOnTime) {
  const FileStamp a{10, 1, ContentHash("0123456789", 10)};
  FileStamp copied = a;
  copied.modifiedNs = 2;
  FileStamp edited = a;
  edited.contentHash = ContentHash("0123456780", 10);
  EXPECT_TRUE(a.SameContents(copied));
  EXPECT_FALSE(a.SameContents(edited));
  EXPECT_FALSE(FileStamp{}.known());
  EXPECT_FALSE(StampFile("/nonexistent/zuba/map.sdf").known());
  EXPECT_NE(ContentHash("a", 1), ContentHash("b", 1));
}

}  // namespace
}  // namespace zuba
