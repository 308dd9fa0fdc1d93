// Damaged and hostile inputs for the two readers of outside files: each is refused with one clear
// message (or, for documents whose tables merely disagree, loaded as it stands), nothing of the
// caller's state changes, and the memory asked for stays a small multiple of the input's size.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "calc/maps/field_map.h"
#include "platform/message.h"
#include "results/document.h"
#include "results/report.h"
#include "results/result_tables.h"
#include "tests/reliability/allocation_counter.h"
#include "tests/shown.h"

namespace zuba {
namespace {

namespace fs = std::filesystem;
using test::Allocations;
using test::ResetAllocations;

class TempDir : public testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() / ("zuba-bad-input-" + std::to_string(::getpid()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string WriteFile(const std::string& name, const std::string& bytes) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
  }
  fs::path dir_;
};

// ---- field maps ---------------------------------------------------------------------------------

class BadFieldMap : public TempDir {
 protected:
  // Reads bytes as a map file and expects a refusal with exactly one message of that text, and
  // no more memory asked for than `factor` times the file's size plus a little.
  void ExpectRefused(const std::string& bytes, const std::string& text, Owner owner,
                     std::size_t factor = 12) {
    SCOPED_TRACE(testing::Message()
                 << "input: \"" << bytes.substr(0, 60) << "\" (" << bytes.size() << " bytes)");
    const std::string path = WriteFile("map.sdf", bytes);
    MessageCapture capture;
    ResetAllocations();
    std::optional<FieldMap> map = test::ReadFieldMapShown(path);
    const test::AllocationTotals used = Allocations();
    EXPECT_FALSE(map);
    EXPECT_EQ(capture.messages(), (std::vector<Message>{{text, "Error", Icon::Error, owner}}));
    EXPECT_LE(used.total, factor * bytes.size() + 64 * 1024);
  }
};

// A map of 2 radii and 3 azimuths, one token per line part, with the message a file cut after
// each token gives.
struct Token {
  const char* text;
  const char* messageIfLast;  // the message when the file ends after this token
};
const Token kSmallMap[] = {
    {"Gs", "Field map header error!"},  // no radius header: Rmin = Rmax = 0
    {"0.1", "Field map header error!"},
    {"0.2", "Field map header error!"},           // dR missing: 0
    {"0.1", "Magnetic field map header error!"},  // no azimuth header: 0 0 0
    {"0", "Magnetic field map header error!"},
    {"360", "Magnetic field map header error!"},  // dθ missing: 0
    {"120", "File Reading Error!"},               // no values at all
    {"10000", "File Reading Error!"},
    {"10100", "File Reading Error!"},
    {"10200", "File Reading Error!"},
    {"11000", "File Reading Error!"},
    {"11100", "File Reading Error!"},
    {"11200", nullptr},  // the last value: the map is whole
};

TEST_F(BadFieldMap, CutAfterEveryTokenGivesTheMessageOfWhatIsMissing) {
  const char* const separators[] = {"", " ", "\r\n", "\t \v"};
  for (const char* trailing : separators) {
    std::string prefix;
    for (const Token& token : kSmallMap) {
      prefix += token.text;
      const std::string cut = prefix + trailing;
      if (token.messageIfLast == nullptr) {
        MessageCapture capture;
        std::optional<FieldMap> map = test::ReadFieldMapShown(WriteFile("map.sdf", cut));
        ASSERT_TRUE(map) << cut;
        EXPECT_TRUE(capture.messages().empty());
        EXPECT_EQ(map->nR, 2);
        EXPECT_EQ(map->nTheta, 3);
        EXPECT_DOUBLE_EQ(map->field.back(), 1.12);
      } else {
        ExpectRefused(cut, token.messageIfLast, Owner::View);
      }
      prefix += (&token - kSmallMap) % 3 == 0 ? "\n" : " ";
    }
  }
}

TEST_F(BadFieldMap, EmptyBinaryAndForeignFilesGiveOneMessage) {
  ExpectRefused("", "The file is empty!", Owner::None);
  ExpectRefused(std::string(4096, '\0'), "Field Map Unit Error!", Owner::View);
  ExpectRefused(std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "Field Map Unit Error!",
                Owner::View);
  // A map saved as UTF-16 or with a byte-order mark: the unit token is not "Gs" byte for byte.
  ExpectRefused(std::string("G\0s\0\n\0"
                            "0\0.\0"
                            "1\0",
                            12),
                "Field Map Unit Error!", Owner::View);
  ExpectRefused("\xEF\xBB\xBFGs 0.1 0.2 0.1 0 360 120 1 1 1 1 1 1", "Field Map Unit Error!",
                Owner::View);
  // A document offered as a map.
  ExpectRefused(StoreDocumentBytes(ResultTables{}, 0), "Field Map Unit Error!", Owner::View);
  // Random bytes after a valid unit token reach the header checks.
  std::mt19937 random(99);
  for (int trial = 0; trial < 100; ++trial) {
    std::string bytes = "T ";
    for (int i = 0; i < 64; ++i) bytes += static_cast<char>(random() & 0xFF);
    const std::string path = WriteFile("map.sdf", bytes);
    MessageCapture capture;
    std::optional<FieldMap> map = test::ReadFieldMapShown(path);
    EXPECT_EQ(capture.messages().size(), map ? 0u : 1u) << trial;
  }
}

TEST_F(BadFieldMap, NonFiniteAndAbsurdHeadersAreHeaderErrors) {
  const std::string values = " 1 1 1 1 1 1";
  const std::string azimuth = " 0 360 120";
  for (const char* radius : {"1e400 2e400 0.1",     // overflows to infinity in the conversion
                             "-1e400 0.2 0.1",      // minus infinity
                             "0.1 0.2 1e-400",      // underflows to 0: no step
                             "0.1 0.2 0.0004",      // rounds to 0 at 0.001 m
                             "0.1 0.2 -0",          // negative zero
                             "infinity 0.2 0.1",    // strtod's spelled-out infinity
                             "nan(0x7ff) 0.2 0.1",  // a not-a-number with payload
                             "0x1p2000 0.2 0.1",    // a hexadecimal overflow
                             "-1e305 1e305 0.001",  // a finite range of 2e308 nodes
                             "1.7e308 1.8e308 1"}) {
    ExpectRefused(std::string("Gs ") + radius + azimuth + values, "Field map header error!",
                  Owner::View);
  }
  for (const char* azimuthHeader : {"0 360 0.0004", "0 1e400 1", "-1e400 360 1", "0 360 -120",
                                    "0 360 nan", "1e300 1e300 1", "0 360 1e-320"}) {
    ExpectRefused(std::string("Gs 0.1 0.2 0.1 ") + azimuthHeader + values,
                  "Magnetic field map header error!", Owner::View);
  }
  // Absurd but finite azimuth ranges that are not one turn.
  for (const char* azimuthHeader : {"0 720 120", "0 1e9 1e8", "-1e6 1e6 120", "0 360.1 0.001"}) {
    ExpectRefused(std::string("Gs 0.1 0.2 0.1 ") + azimuthHeader + values,
                  "Magnetic field map isn't full!", Owner::View);
  }
}

TEST_F(BadFieldMap, HugeNodeCountsAreRefusedWithoutAllocatingThem) {
  // Counts beyond 32 bits, alone or as a product.
  ExpectRefused("Gs 0 3e6 0.001 0 360 120 1 1 1", "Field map header error!", Owner::View);
  ExpectRefused("Gs 0 100 0.001 0 360 0.01 1 1 1", "Magnetic field map header error!", Owner::View);
  // Counts that fit but need far more values than the file holds: 10001 x 36000 = 360 million
  // values (2.9 GB of tables each) from a file of some 40 bytes.
  ExpectRefused("Gs 0 10 0.001 0 360 0.01\n1 1 1\n", "File Reading Error!", Owner::View, 4);
  ExpectRefused("T 0.001 2147.483 0.001 0 360 360\n1 1 1\n", "File Reading Error!", Owner::View, 4);
}

TEST_F(BadFieldMap, AMapThatIsReadUsesASmallMultipleOfItsSize) {
  std::string bytes = "T 0 1 0.01 0 360 1\n";  // 101 x 360 one-character values
  for (int i = 0; i < 101 * 360; ++i) bytes += i % 20 == 19 ? "2\n" : "2 ";
  const std::string path = WriteFile("map.sdf", bytes);
  MessageCapture capture;
  ResetAllocations();
  std::optional<FieldMap> map = test::ReadFieldMapShown(path);
  const test::AllocationTotals used = Allocations();
  ASSERT_TRUE(map);
  EXPECT_EQ(map->field.size(), 36360u);
  // The file's bytes, then the field values and the moments at 8 bytes each: at most nine times
  // the file, since every value takes at least two bytes of it.
  EXPECT_LE(used.total, 9 * bytes.size() + 64 * 1024);
}

// ---- documents ----------------------------------------------------------------------------------

template <class T>
void Put(std::string& bytes, std::size_t offset, T value) {
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

ResultTables SmallRun() {
  ResultTables r;
  r.Ek = RealTable({1.602e-13, 3.204e-13});
  r.Rmn = RealTable({0.10, 0.14});
  r.Bmn = RealTable({1.2, 1.21});
  r.Rev = RealTable({0.10, 0.14});
  r.F0 = RealTable({18.2e6, 18.19e6});
  r.dReo = RealTable({1e-5, 2e-5});
  r.OrbitPoints = IntTable({0, 0});
  r.run = {"m.sdf", "p", 1, 2, 1, 18.2, 1, 3, 0, 1, 1.007276466812, 0, 6.2832, 0.01};
  return r;
}

// The caller's state that a refused document must leave alone: the record shown.
class BadDocument : public TempDir {
 protected:
  ResultTables shown;

  void SetUp() override {
    TempDir::SetUp();
    shown = SmallRun();
  }
  void TearDown() override {
    EXPECT_EQ(shown, SmallRun());
    TempDir::TearDown();
  }

  void ExpectRefused(const std::string& bytes, const std::string& errorPart) {
    SCOPED_TRACE(errorPart);
    ResetAllocations();
    Result<DocumentLoad> load = LoadDocumentBytes(bytes);
    const test::AllocationTotals used = Allocations();
    EXPECT_FALSE(load.ok());  // nothing to apply: no results, no flag
    EXPECT_NE(load.message().text.find(errorPart), std::string::npos) << load.message().text;
    EXPECT_EQ(load.message().text.find('\n'), std::string::npos) << load.message().text;
    // The messages themselves take a few hundred bytes; the declared lengths take nothing.
    EXPECT_LE(used.total, 4 * bytes.size() + 4096) << load.message().text;
    // The same bytes from a file give the same refusal.
    Result<DocumentLoad> fromFile = LoadDocumentFile(WriteFile("bad.zub", bytes));
    EXPECT_FALSE(fromFile.ok());
    EXPECT_EQ(fromFile.message().text, load.message().text);
  }
};

TEST_F(BadDocument, WrongMarkNegativeAndHugeCountsTruncatedTextsAndOverrunningPrefixes) {
  const std::string good = StoreDocumentBytes(SmallRun(), 1);
  ASSERT_EQ(good.size(), 140u + 6 + 2 + 8 * 12 + 4 * 2);

  std::string wrongMark = good;
  Put(wrongMark, 0, 2019.12);
  ExpectRefused(wrongMark, "Not a ZUBA document");
  ExpectRefused(std::string(200, '\xFF'), "Not a ZUBA document");
  ExpectRefused("Gs 0.1 0.2 0.1 0 360 120 1 1 1 1 1 1", "Not a ZUBA document");

  for (int32_t count : {-1, -2147483647 - 1}) {
    std::string negative = good;
    Put(negative, 12 + 4 * 5, count);  // dReo
    ExpectRefused(negative, "the length of dReo is negative");
  }
  for (int k = 0; k < 12; ++k) {
    std::string huge = good;
    Put<int32_t>(huge, 12 + 4 * k, 2147483647);
    ExpectRefused(huge, "bytes of elements but only");
  }

  // Texts that end early: a one-byte prefix of 5 with 3 characters left, and the file ending
  // inside a three-byte and a seven-byte prefix.
  std::string head = good.substr(0, 60);
  ExpectRefused(head +
                    "\x05"
                    "abc",
                "the text Path declares 5 characters but only 3 bytes");
  ExpectRefused(head + "\xFF\x10", "ends inside the text Path");
  ExpectRefused(head + std::string("\xFF\xFF\xFF\x00\x01", 5), "ends inside the text Path");
  ExpectRefused(head + std::string("\x00\xFF\xFE\xFF\x09"
                                   "a\0b\0",
                                   9),
                "the text ParticleName declares 9 characters but only 4 bytes");
  // Length prefixes that overrun the file, from each prefix form, in a 200-byte document.
  const std::string overruns[] = {
      std::string("\xFF\x00\x10", 3),                                        // 4096
      std::string("\xFF\xFF\xFF\x00\x00\x00\x40", 7),                        // 1 GiB
      std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF") + std::string(8, '\x7F'),  // 2^63 - 1 + ...
      std::string("\xFF\xFE\xFF\xFF\x00\x08", 6),  // 2048 16-bit characters
  };
  for (const std::string& prefix : overruns) {
    std::string bytes = head + prefix;
    bytes.resize(200, 'x');
    ExpectRefused(bytes, "the text Path declares");
  }
}

TEST_F(BadDocument, RandomDamageToA200ByteDocumentNeverAllocatesMoreThanASmallMultiple) {
  ResultTables r;  // one energy: 199 bytes, and one more that is ignored
  for (RealTable* t : {&r.Ek, &r.Rmn, &r.Bmn, &r.Rev, &r.F0, &r.dReo}) *t = RealTable({1.5});
  r.OrbitPoints = IntTable({0});
  r.run = SmallRun().run;
  r.run.Path = "path";
  std::string good = StoreDocumentBytes(r, 1);
  ASSERT_EQ(good.size(), 199u);
  good += '\0';
  ASSERT_TRUE(LoadDocumentBytes(good).ok());
  std::mt19937 random(2024);
  for (int trial = 0; trial < 5000; ++trial) {
    std::string damaged = good;
    for (int j = 0; j < 1 + trial % 5; ++j) {
      // Bytes 8 to 120 hold the flag, the counts, the texts and the run description.
      const std::size_t at = 8 + random() % 112;
      damaged[at] = static_cast<char>(random() & 0xFF);
    }
    ResetAllocations();
    Result<DocumentLoad> load = LoadDocumentBytes(damaged);
    const test::AllocationTotals used = Allocations();
    ASSERT_NE(load.ok(), !load.message().text.empty()) << trial;
    ASSERT_LE(used.total, 4 * damaged.size() + 4096) << trial << ": " << load.message().text;
  }
}

TEST_F(BadDocument, DisagreeingCountsAndSixteenBitTextsLoadAndTheReportRefusesSilently) {
  ResultTables r = SmallRun();
  r.F0 = RealTable({18.2e6});  // one per-energy table shorter than the others
  std::string bytes = StoreDocumentBytes(r, 1);
  // Path "m.sdf" (one-byte prefix 5 at offset 60) becomes the 16-bit text "µ.sdf".
  const std::string wide(
      "\xFF\xFE\xFF\x05\xB5\x00.\x00s\x00"
      "d\x00"
      "f\x00",
      14);
  bytes.replace(60, 6, wide);
  Result<DocumentLoad> load = LoadDocumentBytes(bytes);
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results.run.Path, "\xC2\xB5.sdf");
  EXPECT_EQ(load->results.F0.size(), 1u);
  EXPECT_EQ(load->results.Ek.size(), 2u);
  EXPECT_EQ(load->resultsAvailable, 1);

  MessageCapture capture;
  const fs::path report = dir_ / "r.txt";
  EXPECT_EQ(test::SaveReportShown(load->results, report.string()),
            test::ReportWritten::TablesUnequal);
  EXPECT_TRUE(capture.messages().empty());
  EXPECT_FALSE(fs::exists(report));
  // Stored again, it is written with 8-bit texts and loads to the same record.
  Result<DocumentLoad> again =
      LoadDocumentBytes(StoreDocumentBytes(load->results, load->resultsAvailable));
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again->results, load->results);
}

}  // namespace
}  // namespace zuba
