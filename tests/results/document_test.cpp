#include "results/document.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <random>
#include <sstream>

#include "platform/files.h"
#include "results/report.h"

// The largest single allocation made since the last reset: shows that a damaged document never
// makes the reader reserve what its lengths claim.
static std::atomic<size_t> gLargestAllocation{0};
void* operator new(size_t size) {
  size_t seen = gLargestAllocation.load(std::memory_order_relaxed);
  while (size > seen && !gLargestAllocation.compare_exchange_weak(seen, size)) {
  }
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // both sides use malloc and free
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
#pragma GCC diagnostic pop

namespace zuba {
namespace {

namespace fs = std::filesystem;

template <class T>
T At(const std::string& bytes, size_t offset) {
  T value;
  EXPECT_LE(offset + sizeof value, bytes.size());
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}
template <class T>
void Put(std::string& bytes, size_t offset, T value) {
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}
template <class T>
void Add(std::string& bytes, T value) {
  bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

ResultTables Sample() {
  ResultTables r;
  r.Ek = RealTable({9.6131352e-14, 1.92262704e-13});
  r.Rmn = RealTable({0.1, 0.2});
  r.Bmn = RealTable({1.5, -1.5});
  r.Rev = RealTable({0.1001, 0.2002});
  r.F0 = RealTable({26.26e6, 26.25e6});
  r.dReo = RealTable({1e-5, -0.0});
  r.OrbitR = RealTable({0.1, 0.11, 0.2});
  r.OrbitVr = RealTable({0.01, 0.02, 0.03});
  r.OrbitTheta = RealTable({0, 3.14, 0});
  r.OrbitOmega = RealTable({1, 1.01, 0.99});
  r.OrbitTau = RealTable({0, 6.28, 0});
  r.OrbitPoints = IntTable({2, 1});
  r.run = {"/maps/tvk.sdf", "p", 0.6, 60.6, 0.6, 26.26, 1, 4, 0, 1, 1.007276466812, 0, 6.28, 1e-4};
  return r;
}

// The mark, a flag and twelve zero counts: the 60 bytes before the first text.
std::string EmptyHead(int32_t flag = 0) {
  std::string b;
  Add(b, 2019.11);
  Add(b, flag);
  for (int k = 0; k < 12; ++k) Add<int32_t>(b, 0);
  return b;
}

TEST(DocumentFile, EmptyDocumentIs142BytesAndLoadsBackEmpty) {
  const std::string bytes = StoreDocumentBytes(ResultTables{}, 0);
  ASSERT_EQ(bytes.size(), 142u);
  EXPECT_EQ(bytes.substr(0, 8), std::string("\x3D\x0A\xD7\xA3\x70\x8C\x9F\x40", 8));
  EXPECT_EQ(bytes.substr(8), std::string(134, '\0'));
  Result<DocumentLoad> load = LoadDocumentBytes(bytes);
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results, ResultTables{});
  EXPECT_EQ(load->resultsAvailable, 0);
}

TEST(DocumentFile, FieldsStandAtTheirOffsets) {
  const ResultTables r = Sample();
  const std::string b = StoreDocumentBytes(r, 1);
  // 140 fixed bytes, two texts with one-byte prefixes, 27 reals, 2 integers.
  ASSERT_EQ(b.size(), 140u + (1 + 13) + (1 + 1) + 8 * 27 + 4 * 2);
  EXPECT_EQ(At<double>(b, 0), 2019.11);
  EXPECT_EQ(At<int32_t>(b, 8), 1);
  const int32_t counts[12] = {2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 2};
  for (int k = 0; k < 12; ++k) EXPECT_EQ(At<int32_t>(b, 12 + 4 * k), counts[k]) << k;
  EXPECT_EQ(At<uint8_t>(b, 60), 13);
  EXPECT_EQ(b.substr(61, 13), "/maps/tvk.sdf");
  EXPECT_EQ(At<uint8_t>(b, 74), 1);
  EXPECT_EQ(b.substr(75, 1), "p");
  size_t o = 76;  // the run description
  EXPECT_EQ(At<double>(b, o), 0.6);
  EXPECT_EQ(At<double>(b, o + 24), 26.26);
  EXPECT_EQ(At<int32_t>(b, o + 32), 1);  // H
  EXPECT_EQ(At<int32_t>(b, o + 36), 4);  // N
  EXPECT_EQ(At<int32_t>(b, o + 44), 1);  // Q
  EXPECT_EQ(At<double>(b, o + 48), 1.007276466812);
  EXPECT_EQ(At<double>(b, o + 72), 1e-4);  // h
  o += 80;                                 // the elements, table after table
  EXPECT_EQ(At<double>(b, o), 9.6131352e-14);
  EXPECT_EQ(At<double>(b, o + 8), 1.92262704e-13);
  EXPECT_EQ(At<double>(b, o + 16), 0.1);                    // Rmn[0]
  EXPECT_EQ(At<double>(b, o + 6 * 16), 0.1);                // OrbitR[0]
  EXPECT_EQ(At<double>(b, o + 6 * 16 + 4 * 24 + 8), 6.28);  // OrbitTau[1]
  EXPECT_EQ(At<int32_t>(b, o + 6 * 16 + 5 * 24), 2);        // OrbitPoints[0]
  EXPECT_EQ(At<int32_t>(b, o + 6 * 16 + 5 * 24 + 4), 1);
}

TEST(DocumentFile, RoundTripKeepsEveryTableTextNumberAndTheFlag) {
  const ResultTables r = Sample();
  for (int32_t flag : {0, 1, 7}) {
    Result<DocumentLoad> load = LoadDocumentBytes(StoreDocumentBytes(r, flag));
    ASSERT_TRUE(load.ok()) << load.message().text;
    EXPECT_EQ(load->results, r);
    EXPECT_EQ(load->resultsAvailable, flag);
  }
}

TEST(DocumentFile, TextLengthPrefixesAtEveryBoundary) {
  struct Case {
    size_t length;
    std::string prefix;
  };
  const Case cases[] = {
      {0, std::string("\x00", 1)},
      {254, "\xFE"},
      {255, std::string("\xFF\xFF\x00", 3)},
      {256, std::string("\xFF\x00\x01", 3)},
      {65533, "\xFF\xFD\xFF"},
      {65534, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
      {70000, std::string("\xFF\xFF\xFF\x70\x11\x01\x00", 7)},
  };
  for (const Case& c : cases) {
    ResultTables r;
    r.run.Path = std::string(c.length, 'x');
    r.run.ParticleName.assign(1, 'q');  // (GCC 12 warns falsely on assigning a literal here)
    const std::string b = StoreDocumentBytes(r, 0);
    EXPECT_EQ(b.substr(60, c.prefix.size()), c.prefix) << c.length;
    EXPECT_EQ(b.size(), 142 + c.length + c.prefix.size() - 1 + 1) << c.length;
    Result<DocumentLoad> load = LoadDocumentBytes(b);
    ASSERT_TRUE(load.ok()) << load.message().text;
    EXPECT_EQ(load->results, r) << c.length;
  }
}

TEST(DocumentFile, SixteenBitTextsBecomeUtf8) {
  std::string b = EmptyHead();
  // Path: the mark FF FEFF, then three characters: 'a', e acute, euro sign.
  b += std::string("\xFF\xFE\xFF\x03", 4);
  for (char16_t c : {u'a', u'\u00E9', u'\u20AC'}) Add<uint16_t>(b, c);
  // ParticleName: the mark, a two-byte length 256, then 256 times 'N'; then a surrogate pair.
  std::string name16 = std::string("\xFF\xFE\xFF\xFF\x02\x01", 6);
  for (int i = 0; i < 256; ++i) Add<uint16_t>(name16, u'N');
  Add<uint16_t>(name16, 0xD83D);
  Add<uint16_t>(name16, 0xDE00);
  b += name16;
  b += std::string(80, '\0');
  Result<DocumentLoad> load = LoadDocumentBytes(b);
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results.run.Path, "a\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(load->results.run.ParticleName, std::string(256, 'N') + "\xF0\x9F\x98\x80");
}

TEST(DocumentFile, LengthsThatDisagreeLoadAsTheyStand) {
  std::string b = EmptyHead(1);
  const int32_t counts[12] = {3, 1, 0, 0, 0, 0, 2, 0, 0, 0, 0, 5};
  for (int k = 0; k < 12; ++k) Put(b, 12 + 4 * k, counts[k]);
  b += std::string(2, '\0') + std::string(80, '\0');
  for (double v : {1.0, 2.0, 3.0, 4.0, 5.0, 6.0}) Add(b, v);
  for (int32_t v : {9, 8, 7, 6, 5}) Add(b, v);
  b += "trailing bytes are not read";
  Result<DocumentLoad> load = LoadDocumentBytes(b);
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results.Ek.toVector(), (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(load->results.Rmn.toVector(), (std::vector<double>{4}));
  EXPECT_EQ(load->results.OrbitR.toVector(), (std::vector<double>{5, 6}));
  EXPECT_EQ(load->results.OrbitPoints.toVector(), (std::vector<int32_t>{9, 8, 7, 6, 5}));
  EXPECT_EQ(load->resultsAvailable, 1);
  EXPECT_FALSE(BuildReport(load->results, "r.txt").has_value());
}

// A refused load returns nothing of what it read, so the caller's document stays as it was.
void ExpectRefused(const std::string& bytes, const std::string& errorPart) {
  Result<DocumentLoad> load = LoadDocumentBytes(bytes);
  EXPECT_FALSE(load.ok());  // nothing to apply: no results, no flag
  EXPECT_NE(load.message().text.find(errorPart), std::string::npos) << load.message().text;
  EXPECT_EQ(load.message().text.find('\n'), std::string::npos);
}

TEST(DocumentFile, RefusesAFileWithoutTheMark) {
  ExpectRefused("", "Not a ZUBA document");
  ExpectRefused("\x3D\x0A\xD7\xA3\x70\x8C\x9F", "Not a ZUBA document");  // 7 bytes
  std::string other = StoreDocumentBytes(Sample(), 1);
  Put(other, 0, 2019.1100000000001);
  ExpectRefused(other, "Not a ZUBA document");
  Put(other, 0, std::nan(""));
  ExpectRefused(other, "Not a ZUBA document");
  ExpectRefused("SDF field map, not a document at all.........................", "Not a ZUBA");
}

TEST(DocumentFile, RefusesEveryTruncation) {
  ResultTables r = Sample();
  r.run.Path = std::string(300, 'p');  // a three-byte prefix to cut through as well
  const std::string full = StoreDocumentBytes(r, 1);
  for (size_t size = 8; size < full.size(); ++size) {
    SCOPED_TRACE(size);
    ExpectRefused(full.substr(0, size), "Damaged document: ");
  }
  ExpectRefused(full.substr(0, 30), "ends inside the length of F0");
  ExpectRefused(full.substr(0, 62), "ends inside the text Path");
  ExpectRefused(full.substr(0, 60 + 303 + 2 + 50), "ends inside the run description (m0)");
  ExpectRefused(full.substr(0, full.size() - 2), "bytes of elements");
}

TEST(DocumentFile, RefusesNegativeLengths) {
  for (int k = 0; k < 12; ++k) {
    std::string b = StoreDocumentBytes(Sample(), 1);
    Put<int32_t>(b, 12 + 4 * k, -1 - k);
    ExpectRefused(b, "is negative (" + std::to_string(-1 - k) + ")");
  }
}

TEST(DocumentFile, RefusesLengthsBeyondTheFileWithoutAllocatingThem) {
  for (int k = 0; k < 12; ++k) {
    std::string b = EmptyHead(1) + std::string(82, '\0') + std::string(58, '\x11');  // 200 bytes
    ASSERT_EQ(b.size(), 200u);
    Put<int32_t>(b, 12 + 4 * k, 0x7FFFFFFF);
    gLargestAllocation = 0;
    ExpectRefused(b, "bytes of elements but only 58 bytes follow");
    EXPECT_LT(gLargestAllocation.load(), 4096u) << k;
  }
  std::string all = EmptyHead() + std::string(82, '\0');
  for (int k = 0; k < 12; ++k) Put<int32_t>(all, 12 + 4 * k, 0x7FFFFFFF);
  ExpectRefused(all, "need 197568495524 bytes");
}

TEST(DocumentFile, RefusesTextsLongerThanTheRestOfTheFile) {
  const std::string longPrefixes[] = {
      std::string("\xC8", 1),                                                // 200 characters
      std::string("\xFF\xFD\xFF", 3),                                        // 65533
      std::string("\xFF\xFF\xFF\xFE\xFF\xFF\xFF", 7),                        // 4294967294
      std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF") + std::string(8, '\xFF'),  // 2^64 - 1
      std::string("\xFF\xFE\xFF\x32", 4),  // 50 16-bit characters: 100 bytes
      std::string("\xFF\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF") + std::string(8, '\x7F'),
  };
  for (const std::string& prefix : longPrefixes) {
    gLargestAllocation = 0;
    ExpectRefused(EmptyHead() + prefix + std::string(90, 'x'), "the text Path declares");
    EXPECT_LT(gLargestAllocation.load(), 4096u);
  }
}

TEST(DocumentFile, DamagedBytesAnywhereAreLoadedOrRefusedNeverOverAllocated) {
  ResultTables r = Sample();
  r.run.Path = std::string(300, 'p');
  const std::string full = StoreDocumentBytes(r, 1);
  std::mt19937 rng(7);
  std::uniform_int_distribution<size_t> position(0, full.size() - 1);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int i = 0; i < 3000; ++i) {
    std::string damaged = full;
    // Leave the mark alone most of the time so that the damage reaches the rest of the file.
    for (int j = 0; j < 1 + i % 4; ++j) {
      size_t at = position(rng);
      if (at >= 8 || i % 10 == 0) damaged[at] = static_cast<char>(byte(rng));
    }
    if (i % 3 == 0) damaged.resize(position(rng));
    gLargestAllocation = 0;
    Result<DocumentLoad> load = LoadDocumentBytes(damaged);
    EXPECT_NE(load.ok(), !load.message().text.empty()) << i;
    EXPECT_LE(gLargestAllocation.load(), 2 * full.size() + 4096) << i;
  }
}

class DocumentOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zuba-doc-" + std::to_string(reinterpret_cast<uintptr_t>(this)) + "-" +
            std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  static std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  size_t Entries() const {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }
  fs::path dir_;
};

TEST_F(DocumentOnDisk, SavesAndLoadsTheSameBytesAsInMemory) {
  const fs::path path = dir_ / "run.zub";
  Outcome save = SaveDocumentFile(path.string(), Sample(), 1);
  ASSERT_TRUE(save.ok()) << save.message().text;
  EXPECT_EQ(Read(path), StoreDocumentBytes(Sample(), 1));
  Result<DocumentLoad> load = LoadDocumentFile(path.string());
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results, Sample());
  EXPECT_EQ(load->resultsAvailable, 1);
  EXPECT_EQ(Entries(), 1u);
}

TEST_F(DocumentOnDisk, LoadsTablesLargerThanTheReadBuffer) {
  ResultTables r = Sample();
  std::vector<double> samples(300001);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = 0.5 * static_cast<double>(i);
  r.OrbitR = RealTable(samples);
  r.OrbitTau = RealTable(samples);
  const fs::path path = dir_ / "big.zub";
  ASSERT_TRUE(SaveDocumentFile(path.string(), r, 1).ok());
  Result<DocumentLoad> load = LoadDocumentFile(path.string());
  ASSERT_TRUE(load.ok()) << load.message().text;
  EXPECT_EQ(load->results, r);
  std::filesystem::resize_file(path, fs::file_size(path) - 1);
  EXPECT_FALSE(LoadDocumentFile(path.string()).ok());
}

TEST_F(DocumentOnDisk, FilesThatCannotBeReadAreRefused) {
  EXPECT_NE(LoadDocumentFile((dir_ / "absent.zub").string()).message().text.find("Cannot open"),
            std::string::npos);
  EXPECT_NE(LoadDocumentFile(dir_.string()).message().text.find("Cannot open"), std::string::npos);
  std::ofstream(dir_ / "text.zub") << "a text file, not a document";
  EXPECT_NE(
      LoadDocumentFile((dir_ / "text.zub").string()).message().text.find("Not a ZUBA document"),
      std::string::npos);
}

TEST_F(DocumentOnDisk, AFailedSaveKeepsTheEarlierFileAndLeavesNoTemporaryFile) {
  const fs::path path = dir_ / "run.zub";
  ASSERT_TRUE(SaveDocumentFile(path.string(), ResultTables{}, 0).ok());
  const std::string before = Read(path);

  // Let the write fail part-way: the file size limit makes write() fail with EFBIG.
  ResultTables big = Sample();
  big.OrbitR = RealTable(std::vector<double>(100000, 1.0));
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &previous);
  rlimit oldLimit{};
  ::getrlimit(RLIMIT_FSIZE, &oldLimit);
  rlimit small = oldLimit;
  small.rlim_cur = 4096;
  ::setrlimit(RLIMIT_FSIZE, &small);
  Outcome save = SaveDocumentFile(path.string(), big, 1);
  ::setrlimit(RLIMIT_FSIZE, &oldLimit);
  ::sigaction(SIGXFSZ, &previous, nullptr);

  EXPECT_FALSE(save.ok());
  EXPECT_NE(save.message().text.find("Cannot save the document: File too large"), std::string::npos)
      << save.message().text;
  EXPECT_EQ(Read(path), before);
  EXPECT_EQ(Entries(), 1u);

  EXPECT_FALSE(SaveDocumentFile((dir_ / "no" / "such.zub").string(), big, 1).ok());
  EXPECT_EQ(Entries(), 1u);
}

}  // namespace
}  // namespace zuba
